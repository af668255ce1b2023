#include "SFXmisc.h"

#include "FileIO.h"
#include "Memory.h"
#ifdef _WIN32
#include "WideText.h"
#endif
#include "../decode/CrcCrypt.h"
#include "../decode/WinZipAes.h"

#include <string.h>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#define SFX_CRC_FOLD
#include <cpuid.h>
#include <immintrin.h>
#endif

void SeekArchive(int32_t offset)
{
    LastSeekPosition = FileSeek(ArchiveFile, offset);
}

uint32_t TextLength(const char *text)
{
    uint32_t n = 0;
    if (text)
        while (text[n])
            n++;
    return n;
}

int32_t SmallerOf(int32_t a, int32_t b)
{
    return a <= b ? a : b;
}

static bool IsSeparator(char c)
{
    return c == '\\' || c == '/' || c == ':';
}

void TextFree(Text &text)
{
    FreeMem(text.Data);
    text.Data = 0;
    text.Length = 0;
}

void FixedTextToString(Text &out, const void *source, uint32_t count)
{
    const char *s = (const char *)source;
    uint32_t n = 0;
    while (n < count && s[n])
        n++;
    char *d = (char *)GetMem(n + 1);
    for (uint32_t i = 0; i < n; i++)
        d[i] = s[i];
    d[n] = 0;
    TextFree(out);
    out.Data = d;
    out.Length = n;
}

void TextAssign(Text &out, const char *text)
{
    FixedTextToString(out, text, TextLength(text));
}

void FileNamePart(const char *text, Text &out)
{
    uint32_t n = TextLength(text), start = 0;
    for (uint32_t i = 0; i < n; i++)
        if (IsSeparator(text[i]))
            start = i + 1;
    // At most 255 UTF-16 units, never part of a character.
    uint32_t end = start, units = 0;
    for (; end < n; end++) {
        uint8_t c = (uint8_t)text[end];
        if ((c & 0xC0) != 0x80 && (units += 1 + (c >= 0xF0)) > MaxComponentChars)
            break;
    }
    FixedTextToString(out, text + start, end - start);
}

void FolderPart(const char *text, Text &out)
{
    uint32_t n = TextLength(text);
    if (n == 3 && (text[0] == ':' || text[1] == ':' || text[2] == ':')) {
        FixedTextToString(out, text, 3);
        return;
    }
    uint32_t p = 0;   // position counted from 1 of the last separator
    for (uint32_t i = 0; i < n; i++)
        if (IsSeparator(text[i]))
            p = i + 1;
    if (p && text[p - 1] != ':' && !(p == 3 && text[1] == ':'))
        p--;
    FixedTextToString(out, text, p);
}

char *SlashesToBackslashes(char *text)
{
    // The count wraps like the byte-sized length it always was: every byte
    // of a text of up to 255 characters and its terminator.
    uint32_t n = (TextLength(text) + 1) & 255;
    if (n == 0)
        n = 256;
    for (uint32_t i = 0; i < n; i++)
        if (text[i] == '/')
            text[i] = '\\';
    return text;
}

static bool IsDriveRoot(const char *text, uint32_t n)
{
    return n == 3 && text[1] == ':' && text[2] == '\\';
}

bool PathExists(char *text)
{
    uint32_t n = TextLength(text);
    if (n == 0)
        return false;
    if (text[n - 1] != '\\') {
        SlashesToBackslashes(text);
        return PathFind(text);
    }
    // An empty drive root holds no entry at all, yet it exists: extracting
    // into it or browsing it must not fail for that.
    if (IsDriveRoot(text, n) && DriveRootExists(text))
        return true;
    // The pattern gets a buffer that fits it, however long the text.
    char small[255];
    char *pattern = n + 4 <= sizeof small ? small : (char *)GetMem(n + 4);
    for (uint32_t i = 0; i < n; i++)
        pattern[i] = text[i];
    pattern[n] = '*';
    pattern[n + 1] = '.';
    pattern[n + 2] = '*';
    pattern[n + 3] = 0;
    bool found = PathFind(SlashesToBackslashes(pattern));
    if (pattern != small)
        FreeMem(pattern);
    return found;
}

// Walks up from the path to the first level that exists, then creates the
// missing levels on the way back down, outermost first.  A loop, not a
// recursion: the depth of a path is not bounded by anything the stack
// could hold.
void EnsureFolder(const char *text)
{
    Text path = {0, 0};
    TextAssign(path, text);
    char *p = path.Data;
    uint32_t n = path.Length;
    if (n && p[n - 1] == '\\')
        p[--n] = 0;
    // The lengths of the missing levels, longest first.
    uint32_t *missing = (uint32_t *)GetMem((n + 1) * sizeof(uint32_t));
    uint32_t count = 0;
    while (n >= 3) {
        char cut = p[n];
        p[n] = 0;
        bool exists = PathExists(p);
        Text parent = {0, 0};
        if (!exists)
            FolderPart(p, parent);
        p[n] = cut;
        uint32_t up = parent.Length;
        TextFree(parent);
        if (exists)
            break;
        missing[count++] = n;
        if (up && p[up - 1] == '\\')
            up--;
        // A three-character text with a colon (such as "a:b") is its own
        // folder part: nothing above it to make.
        if (up >= n)
            break;
        n = up;
    }
    while (count) {
        uint32_t level = missing[--count];
        char cut = p[level];
        p[level] = 0;
        FolderCreate(p);
        p[level] = cut;
    }
    FreeMem(missing);
    TextFree(path);
}

char *AppendBackslash(char *text)
{
    uint32_t n = TextLength(text);
    if (n == 0 || text[n - 1] != '\\') {
        text[n] = '\\';
        text[n + 1] = 0;
    }
    return text;
}

char *StripBackslash(char *text)
{
    uint32_t n = TextLength(text);
    if (n && text[n - 1] == '\\')
        text[n - 1] = 0;
    return text;
}

// Register arithmetic of CRC-32 over GF(2), bit 31 standing for x^0 as in
// the reflected register: a times b modulo the polynomial.  Masks instead
// of branches: the bits are random, and every entry of a few kilobytes
// joins its parts with several of these.
static uint32_t CrcMultiply(uint32_t a, uint32_t b)
{
    uint32_t product = 0;
    for (; a; a <<= 1) {
        product ^= b & (uint32_t)((int32_t)a >> 31);
        b = (b >> 1) ^ (0xEDB88320u & (0u - (b & 1)));
    }
    return product;
}

// Uninitialised storage costs the stub's image nothing, but with
// -fdata-sections MinGW gives each such variable a data section of its
// own, zeros included; these tables are placed in .bss by name.
#ifdef _WIN32
#define UNINITIALISED __attribute__((section(".bss")))
#else
#define UNINITIALISED
#endif

// x^(8 * 2^i) modulo the polynomial: what 2^i zero bytes do to a register;
// filled with CrcSlices (below).
UNINITIALISED static uint32_t CrcZeroPowers[32];

// x^(8n) modulo the polynomial: what n zero bytes do to a register, one
// product for each bit of n.  The last length asked for is kept;
// a flushed window always asks for the same.
static uint32_t CrcZeroBytes(uint32_t n)
{
    static uint32_t lastLength, lastPower;
    if (n != lastLength || !lastPower) {
        uint32_t power = 0x80000000u;   // x^0
        lastLength = n;
        for (int i = 0; n; n >>= 1, i++)
            if (n & 1)
                power = CrcMultiply(power, CrcZeroPowers[i]);
        lastPower = power;
    }
    return lastPower;
}

// Each step waits for the one before it, so one pass over a block runs at
// the latency of a table look-up per byte.  Equal parts of the block run
// side by side instead (as many as the machine has registers for), all but
// the first from a register of 0, and are joined afterwards: the register
// of A followed by B is the register of A moved over |B| zero bytes,
// exclusive-or the register of B from 0 (the update is linear).  Eight
// bytes of a part enter its register at once (the loads are little-endian,
// as every machine the program runs on) and leave it by eight independent
// look-ups, one per byte, in CrcSlices: slice j is what a byte does to the
// register when j more zero bytes follow it.  Slice 0 is CrcTable.
enum { CrcParts = sizeof(void *) == 8 ? 6 : 2 };

// Built on first use from CrcTable.
UNINITIALISED static uint32_t CrcSlices[8][256];

UNINITIALISED bool CrcFolds;

// Processors with a carry-less multiply (PCLMULQDQ, from 2010 on) fold the
// block instead, 16 bytes at a time: the 128-bit accumulator times x^128
// modulo the polynomial (its low half by x^(128+32), its high half by
// x^(128-32), reflected as the register is), plus the next 16 bytes, keeps
// the register the stream gives.  What is left, 16 bytes with the same
// register from 0, runs through the table.  One fold waits only for one
// multiply, so it runs at several times the tables' speed.
#ifdef SFX_CRC_FOLD
// count is a multiple of 16, at least 16.
__attribute__((target("pclmul,sse2"))) static uint32_t CrcFoldBlock(const uint8_t *p, uint32_t count,
                                                                      uint32_t c)
{
    const __m128i *q = (const __m128i *)p, *end = q + count / 16;
    const __m128i k = _mm_set_epi32(0, (int)0xccaa009e, 1, 0x751997d0);   // high half, low half
    __m128i a = _mm_xor_si128(_mm_loadu_si128(q), _mm_cvtsi32_si128((int)c));
    while (++q < end)
        a = _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(a, k, 0x00), _mm_clmulepi64_si128(a, k, 0x11)),
                          _mm_loadu_si128(q));
    c = 0;
    for (int i = 0; i < 16; i++) {
        if (!(i & 3)) {
            c ^= (uint32_t)_mm_cvtsi128_si32(a);
            a = _mm_srli_si128(a, 4);
        }
        c = CrcTable[c & 0xFF] ^ (c >> 8);
    }
    return c;
}

static bool CrcCanFold()
{
    // Every processor that runs 32-bit Windows has CPUID.
    unsigned a, b, c, d;
    __cpuid(1, a, b, c, d);
    return (c & bit_PCLMUL) != 0;
}
#else
static bool CrcCanFold() { return false; }
static uint32_t CrcFoldBlock(const uint8_t *, uint32_t, uint32_t c) { return c; }
#endif

void UpdateCrcOverBlock(const uint8_t *bytes, int32_t count, uint32_t &crc)
{
    uint32_t c = crc;
    // Files shipped already compressed come out of the decoder in small
    // portions (most of them under 1 KiB): a fold pays from 32 bytes on;
    // the parts side by side only from 1 KiB.
    if (count >= 32) {
        if (CrcSlices[1][1] == 0) {
            for (int i = 0; i < 256; i++) {
                uint32_t v = CrcTable[i];
                CrcSlices[0][i] = v;
                for (int j = 1; j < 8; j++)
                    CrcSlices[j][i] = v = CrcTable[v & 0xFF] ^ (v >> 8);
            }
            uint32_t power = 0x00800000u;   // x^8
            for (int i = 0; i < 32; i++, power = CrcMultiply(power, power))
                CrcZeroPowers[i] = power;
            CrcFolds = CrcCanFold();
        }
        if (CrcFolds) {
            uint32_t q = (uint32_t)count & ~15u;
            c = CrcFoldBlock(bytes, q, c);
            bytes += q;
            count -= (int32_t)q;
        } else if (count >= 1024) {
            uint32_t q = (uint32_t)count / (8 * CrcParts) * 8;
            uint32_t r[CrcParts];
            r[0] = c;
            for (int j = 1; j < CrcParts; j++)
                r[j] = 0;
            // The parts' registers must stay in machine registers.
            for (const uint8_t *p = bytes, *end = bytes + q; p < end; p += 8) {
#pragma GCC unroll 12
                for (int j = 0; j < CrcParts; j++) {
                    uint32_t low, high;
                    memcpy(&low, p + j * q, 4);
                    memcpy(&high, p + j * q + 4, 4);
                    low ^= r[j];
                    r[j] = CrcSlices[7][low & 0xFF] ^ CrcSlices[6][(low >> 8) & 0xFF] ^
                           CrcSlices[5][(low >> 16) & 0xFF] ^ CrcSlices[4][low >> 24] ^
                           CrcSlices[3][high & 0xFF] ^ CrcSlices[2][(high >> 8) & 0xFF] ^
                           CrcSlices[1][(high >> 16) & 0xFF] ^ CrcSlices[0][high >> 24];
                }
            }
            uint32_t shift = CrcZeroBytes(q);
            c = r[0];
            for (int j = 1; j < CrcParts; j++)
                c = CrcMultiply(shift, c) ^ r[j];
            bytes += CrcParts * q;
            count -= (int32_t)(CrcParts * q);
        }
    }
    for (int32_t i = 0; i < count; i++)
        c = UpdateCrc(bytes[i], c);
    crc = c;
}

void CopyStoredEntry()
{
    // A negative budget (an encrypted entry shorter than its 12-byte header,
    // or a size of 2 GiB or more) means no data at all.
    if (RemainingInput <= 0) {
        RemainingInput = 0;
        return;
    }
    int32_t size = SmallerOf(RemainingInput, 32768);
    uint8_t *buffer = (uint8_t *)GetMem((uint32_t)size + 2);
    bool encrypted = (LocalHeader.Flags & EncryptedFlag) != 0;
    while (RemainingInput > 0) {
        int32_t got = FileRead(ArchiveFile, buffer, (uint32_t)SmallerOf(RemainingInput, 32768));
        if (got <= 0) {
            RemainingInput = 0;
            break;
        }
        RemainingInput -= got;
        if (encrypted)
            DecryptInput(buffer, got);
        int32_t put = FileWrite(OutputFile, buffer, (uint32_t)got);
        UpdateCrcOverBlock(buffer, put, RunningCrc);
        CountWritten(put);
    }
    FreeMem(buffer);
}

#ifdef SFX_STUB

FARPROC SystemProc(const char *dll, const char *proc)
{
    HMODULE module = LoadLibraryExA(dll, NULL, 0x00000800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */);
    if (!module) {
        // Without the search flags (Windows before the update that brought
        // them) a full path does it; the altered search path makes the DLL's
        // own imports come from its folder too.
        char path[MAX_PATH + 16];
        uint32_t n = GetSystemDirectoryA(path, MAX_PATH);
        if (n == 0 || n >= MAX_PATH)
            return 0;
        path[n++] = '\\';
        for (const char *s = dll; (path[n++] = *s) != 0; s++)
            ;
        module = LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module ? GetProcAddress(module, proc) : 0;
}

void CentreWindow(SfxWindow window)
{
    RECT r;
    GetWindowRect(window, &r);
    int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
    SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void PumpMessages()
{
    MSG msg;
    for (int n = 0; n < 16 && PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE); n++) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void ProgressTick(uint32_t n)
{
    if (!ProgressBar)
        return;
    ProgressDone += n;
    DWORD now = GetTickCount();
    if (now - ProgressShown < 200)
        return;
    ProgressShown = now;
    ProgressPaint();
    PumpMessages();
}

void ProgressPaint()
{
    if (!ProgressBar)
        return;
    // A strip along the bottom of the status line's own rectangle, so the
    // bar follows its size (and the screen's resolution) and the text above
    // it stays readable; repainting the line takes the bar away.
    RECT r;
    GetClientRect(ProgressBar, &r);
    r.top = r.bottom - r.bottom / 4 - 1;
    // In 512-byte units, which 32 bits hold for any run: the stub does no
    // 64-bit division (it links no helper for one).
    uint64_t done = ProgressDone < ProgressTotal ? ProgressDone : ProgressTotal;
    r.right = MulDiv(r.right, (int)(done >> 9), (int)(ProgressTotal >> 9) + 1);
    HDC dc = GetDC(ProgressBar);
    FillRect(dc, &r, (HBRUSH)(INT_PTR)(COLOR_HIGHLIGHT + 1));
    ReleaseDC(ProgressBar, dc);
}

bool EntryIsSelected(SfxWindow list, const char *name)
{
    LRESULT i = SendMessageW(list, LB_FINDSTRINGEXACT, (WPARAM)ListSearchIndex, Wide(name).Param());
    ListSearchIndex = i == LB_ERR ? -1 : (int32_t)i;
    if (ListSearchIndex < 0)
        return false;
    return SendMessageW(list, LB_GETSEL, (WPARAM)ListSearchIndex, 0) > 0;
}

#endif
