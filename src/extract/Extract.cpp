// The extraction driver.  One routine serves both runs: the listing run puts
// every entry name in the entry list; the extraction run walks the archive
// again and uses the list's selection as its tally, deselecting each item
// whose entry is done (extracted with a matching CRC-32, a folder entry, or
// left alone by the overwrite policy).  What is still selected at the end is
// what failed, ready for another try.
#include "Extract.h"

#include "../archive/EntryNames.h"
#include "../archive/ZipWalk.h"
#include "../common/FileIO.h"
#include "../common/Memory.h"
#include "../common/SFXmisc.h"
#include "../common/Utf8.h"
#include "../common/Texts.h"
#include "../common/WideText.h"
#include "../decode/EntryData.h"
#include "../resources/resource.h"
#include "../ui/Prompts.h"

static void ShowPendingStatus();

static void ShowMessage(const char *text, const char *caption)
{
    ShowPendingStatus();
    MessageUtf8(NULL, text, caption, MB_OK);
}

static void Deselect(SfxWindow list)
{
    SendMessageW(list, LB_SETSEL, FALSE, (LPARAM)ListSearchIndex);
}

static void SetStatus(SfxWindow dialog, const char *text)
{
    SendDlgItemMessageW(dialog, IDC_STATUS, WM_SETTEXT, 0, Wide(text).Param());
}

static void ShowExtracting(SfxWindow dialog, const char *path)
{
    const uint32_t p = sizeof STATUS_EXTRACTING - 1;
    uint32_t n = TextLength(path);
    char *text = (char *)GetMem(p + 1 + n);
    memcpy(text, STATUS_EXTRACTING, p);
    memcpy(text + p, path, n + 1);
    SetStatus(dialog, text);
    FreeMem(text);
    // The new text is painted at once, and the bar over it again.
    if (ProgressBar) {
        UpdateWindow(ProgressBar);
        ProgressPaint();
    }
}

// The main dialog stays live during a run: pending messages are handled
// between files (PumpMessages), so the window repaints and the status line
// shows, and while a large file is written (ProgressTick).

// Painting the status line and a turn of the message loop each cost about a
// millisecond under Wine, more than writing a small file, so a run of many
// files does both a few times a second.  A file's name that was not shown
// waits here; it is shown before anything waits on the user and when the
// run ends, so the status line reads then as if every name had been shown.
enum { StatusInterval = 200 };
static SfxWindow RunDialog;
static DWORD LastShown;
// During an extraction run: room for any path the run lets through, fewer
// than MaxTargetPath UTF-16 units of at most three UTF-8 bytes each.
enum { UnshownPathSize = MaxTargetPath * 3 };
static char *UnshownPath;

static void ShowPendingStatus()
{
    if (UnshownPath && UnshownPath[0])
        ShowExtracting(RunDialog, UnshownPath);
    if (UnshownPath)
        UnshownPath[0] = 0;
}

static void ShowFileStarted(const char *path)
{
    DWORD now = GetTickCount();
    if (now - LastShown < StatusInterval) {
        memcpy(UnshownPath, path, TextLength(path) + 1);
        return;
    }
    LastShown = now;
    UnshownPath[0] = 0;
    ShowExtracting(RunDialog, path);
    PumpMessages();
}

// The password stage of an encrypted entry.  The header is read once; each
// try decrypts the untouched copy in the buffer's second half.  The
// remembered password is tried first, then at most three answers of the
// prompt, each of which becomes the remembered password.
static bool PasswordFits()
{
    uint8_t header[EncryptionHeaderSize * 2];
    // A header cut short by the end of the file stays zeros, which no
    // password opens.
    ReadEncryptionHeader(header);
    bool fits = Password.Length && PasswordOpens(header, Password);
    // A silent run asks nobody: without the right password the entry fails.
    for (int prompts = 0; !fits && prompts < 3 && !Silent; prompts++) {
        ShowPendingStatus();
        AskPassword();
        FixedTextToString(Password, PasswordBuffer, (uint32_t)SmallerOf(PasswordLength, PasswordMax));
        fits = PasswordOpens(header, Password);
    }
    return fits;
}

// What became of one entry of an extraction run.
enum EntryResult {
    EntryNext,      // go on with the walk
    EntryStopWalk,  // end the walk; the run-end report follows
    EntryEndRun,    // end the run at once, without the report
    EntryWrite,     // (OpenEntryFile) OutputFile is open for the entry's data
};

// The items of the sorted list by archive order, taken from the item data
// the listing run gave them: -1 for an entry without an item.  Null when
// the list is not sorted; filled in archive order, its search finds every
// item at once.
static int32_t *ItemOfEntry;
static int32_t ListItems;

static void MapItems(SfxWindow list)
{
    ListItems = (int32_t)SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (ListItems <= 0 || !(GetWindowLongW(list, GWL_STYLE) & LBS_SORT))
        return;
    ItemOfEntry = (int32_t *)GetMem((uint32_t)ListItems * sizeof(int32_t));
    memset(ItemOfEntry, 0xFF, (uint32_t)ListItems * sizeof(int32_t));
    for (int32_t i = 0; i < ListItems; i++) {
        uint32_t entry = (uint32_t)SendMessageW(list, LB_GETITEMDATA, i, 0) - 1;
        if (entry < (uint32_t)ListItems)
            ItemOfEntry[entry] = i;
    }
}

// The entry's item in the sorted list when no other item holds its name
// (then the search, wherever it starts, would find that one); -1 leaves it
// to the search.  The list sorts by the comparison its search uses, so
// items holding the same name stand together: comparing the neighbours is
// enough, and each comparison is the list's own.
static int32_t MappedItem(SfxWindow list, const char *name, int32_t entry)
{
    if (!ItemOfEntry || entry >= ListItems)
        return -1;
    int32_t i = ItemOfEntry[entry];
    // From two before: the item before must not match and this one must.
    if (i < 0 || SendMessageW(list, LB_FINDSTRINGEXACT, i < 2 ? -1 : i - 2, Wide(name).Param()) != i)
        return -1;
    if (i + 1 < ListItems) {
        LRESULT n = SendMessageW(list, LB_GETTEXTLEN, i + 1, 0);
        if (n < 0)
            return -1;
        wchar_t *next = (wchar_t *)GetMem(((uint32_t)n + 1) * sizeof(wchar_t));
        SendMessageW(list, LB_GETTEXT, i + 1, (LPARAM)next);
        // From the one before: this item must not match the next one.
        if (SendMessageW(list, LB_FINDSTRINGEXACT, i - 1, (LPARAM)next) == i)
            i = -1;
        FreeMem(next);
    }
    return i;
}

// The entry's list item.  A name held twice in the archive has two items;
// in the sorted list another entry may stand between the two matches, so the
// search after the last match can come round to the twin already done.  The
// other twins are then tried before the entry counts as not selected.
static bool FindSelectedItem(SfxWindow list, const char *name, int32_t entry)
{
    int32_t mapped = MappedItem(list, name, entry);
    if (mapped >= 0) {
        ListSearchIndex = mapped;
        return SendMessageW(list, LB_GETSEL, mapped, 0) > 0;
    }
    if (EntryIsSelected(list, name))
        return true;
    int32_t first = ListSearchIndex;
    while (first >= 0) {
        if (EntryIsSelected(list, name))
            return true;
        if (ListSearchIndex == first || ListSearchIndex < 0)
            break;
    }
    ListSearchIndex = first;
    return false;
}

bool RunEntryFound;
uint32_t RunEntryCrc, RunEntrySize;
#ifdef SFX_STUB_AES
// The entry being written is the run file: an AE-2 entry stores no CRC, so
// the one its decode computed is what the run file is read back against.
static bool WritingRunEntry;
#endif

// Whether the entry is the configured run file: the same path to Windows,
// whatever the separators and the case of ASCII letters (a case that differs
// beyond ASCII only keeps the file from being run).
static bool IsRunFile(const char *name)
{
    for (const char *r = RunFile;; name++, r++) {
        uint8_t a = (uint8_t)*name, b = (uint8_t)*r;
        a = a == '/' ? '\\' : (unsigned)(a - 'A') < 26u ? a + 32 : a;
        b = b == '/' ? '\\' : (unsigned)(b - 'A') < 26u ? b + 32 : b;
        if (a != b)
            return false;
        if (!a)
            return true;
    }
}

// The folder of the last file a run made.  Every folder on the way to it
// below the target folder was seen to be no junction or symbolic link, or
// was made by the run: the next file there needs no look.
// (In .bss by name: -fdata-sections would give it zeros in the image.)
__attribute__((section(".bss"))) static char SafeFolder[UnshownPathSize];
static uint32_t SafeLength;

// The stub links no C library: its one comparison of bytes.
static bool SameBytes(const char *a, const char *b, uint32_t n)
{
    while (n && *a == *b) {
        a++;
        b++;
        n--;
    }
    return n == 0;
}

// Where LeadsElsewhere last found the folders to begin to be missing (the
// length of the path to the first level that is not there), when the level
// above it was seen to exist; 0 otherwise.
static uint32_t FirstMissing;

// True when a folder on the way to path[0, end) below the target folder, or
// that path itself when end is its length, is a reparse point: written
// through, it would put the file wherever the link leads, outside the target
// folder.  Folders that do not exist yet are the run's own to make.  The
// levels it shares with the last file's folder were looked at then, or made
// by the run: in a tree walked in order most of the path is such levels.
static bool LeadsElsewhere(char *path, uint32_t end)
{
    FirstMissing = 0;
    // The target path is the folder without one trailing backslash, a
    // backslash, the name.
    uint32_t i = TextLength(TargetFolder), same = 0, seen = 0;
    if (i && TargetFolder[i - 1] == '\\')
        i--;
    while (same < SafeLength && path[same] == SafeFolder[same])
        same++;
    for (i++; i <= end; i++) {
        char c = path[i];
        if (i < end && c != '\\')
            continue;
        // The safe folder is kept with the backslash after it.
        if (i <= same && SafeFolder[i] == '\\') {
            seen = i;
            continue;
        }
        path[i] = 0;
        DWORD a = GetFileAttributesW(Wide(path));
        path[i] = c;
        if (a == INVALID_FILE_ATTRIBUTES) {
            DWORD e = GetLastError();
            if (seen && (e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND))
                FirstMissing = i;
            return false;
        }
        if (a & FILE_ATTRIBUTE_REPARSE_POINT)
            return true;
        seen = i;
    }
    return false;
}

// Makes the folder path[0, end) of a file that does not exist.  From where
// LeadsElsewhere found the levels missing, each is made with one call and
// none is looked for again.  When the last one could not be made that way,
// the folder is made and looked at as it always was, so that whatever
// stands in the way meets the same message.
static bool MadeFolder(char *path, uint32_t end, char *folder)
{
    bool made = false;
    for (uint32_t i = FirstMissing; FirstMissing && i <= end; i++) {
        char c = path[i];
        if (i < end && c != '\\')
            continue;
        path[i] = 0;
        made = FolderCreate(path);
        path[i] = c;
    }
    if (!made)
        EnsureFolder(folder);
    return made || PathExists(folder);
}

// The entry's target file cannot be made, or must not be written through.
static EntryResult CannotOpen(const char *path)
{
    ShowMessage(path, CAPTION_CANNOT_OPEN);
    return EntryNext;
}

// The entry's data cannot be decoded, and nothing of it was written.
static EntryResult UnknownEntry()
{
    ShowMessage(TEXT_UNKNOWN_ENTRY, CAPTION_EXTRACT_ERROR);
    return EntryEndRun;
}

// Whether an existing target file gives way to the entry, by the overwrite
// policy or the user's answer.
SFX_PART bool MayOverwrite(char *path)
{
    if (OverwritePolicy == OverwriteNever)
        return false;
    if (OverwritePolicy == OverwriteAsk) {
        FileNamePart(path, ExistingName);
        ShowPendingStatus();
        AskFileExists();
        return OverwriteAnswer != 0;
    }
    return true;
}

// Where FileCreateNew made nothing: the target exists, and the overwrite
// policy decides, or its folder is still to be made.  An undecodable entry
// is judged only here, once nothing else could keep it from being written.
// EntryWrite with OutputFile open: beside an old file (temp then names the
// new one, which takes the old one's place once its CRC-32 matches) or as
// a new file.
SFX_PART EntryResult OpenAfterLook(SfxWindow list, char *path, uint32_t folderEnd, bool undecodable, char *&temp)
{
    Text folder = {0, 0};
    // In a folder found missing no file can be.
    if (!FirstMissing && PathExists(path)) {
        if (!MayOverwrite(path)) {
            Deselect(list);
            return EntryNext;
        }
        if (undecodable)
            return UnknownEntry();
        if (LeadsElsewhere(path, TextLength(path)))
            return CannotOpen(path);
        // Written beside the old file and moved over it only once its
        // CRC-32 matches: a damaged entry must not cost the old file, nor
        // stand in its place to be kept by the next run.
        FolderPart(path, folder);
        temp = (char *)GetMem(UnshownPathSize);
        temp[0] = 0;
        OutputFile = FileCreateBeside(folder.Data, temp);
        TextFree(folder);
    } else {
        if (undecodable)
            return UnknownEntry();
        FolderPart(path, folder);
        bool made = MadeFolder(path, folderEnd, folder.Data);
        if (!made)
            ShowMessage(folder.Data, CAPTION_FOLDER_ERROR);
        TextFree(folder);
        if (!made)
            return EntryStopWalk;
        OutputFile = FileCreate(path);
    }
    if (OutputFile != NoFile)
        return EntryWrite;
    if (temp && temp[0])
        FileDelete(temp);
    return CannotOpen(path);
}

// The entry's target file, opened for its data (EntryWrite), or what the
// run does instead.  path is the target path; its folder part ends at
// folderEnd once its separators are backslashes.
SFX_PART EntryResult OpenEntryFile(SfxWindow list, const Text &name, char *path, uint32_t &folderEnd,
                                   bool undecodable, char *&temp)
{
    // The system would cut or reinterpret a longer path; it fails as a file
    // that cannot be created fails.
    if (Utf16Units(path) >= MaxTargetPath)
        return CannotOpen(path);
    bool runFile = IsRunFile(name.Data);
    if (runFile) {
        RunEntryFound = true;
        RunEntryCrc = LocalHeader.Crc32;
        RunEntrySize = LocalHeader.UncompressedSize;
    }
#ifdef SFX_STUB_AES
    WritingRunEntry = runFile;
#endif
    SlashesToBackslashes(path);
    folderEnd = 0;
    for (uint32_t i = 0; path[i]; i++)
        if (path[i] == '\\')
            folderEnd = i;
    if (LeadsElsewhere(path, folderEnd))
        return CannotOpen(path);
    // Nearly every file of a run is new, in a folder that exists: one call
    // creates it, where the look of OpenAfterLook would take three more
    // file-system calls to come to the same.  Any other case fails the
    // call, changing nothing.  In a folder found missing no file can be
    // created before the folder.
    if (!undecodable && !FirstMissing) {
        OutputFile = FileCreateNew(path);
        if (OutputFile != NoFile)
            return EntryWrite;
    }
    return OpenAfterLook(list, path, folderEnd, undecodable, temp);
}

// The entry's data into the open OutputFile, which is closed; the item is
// deselected once the file holds the entry, and nothing of a file that
// failed its check stays.
SFX_PART void WriteEntryFile(SfxWindow list, const char *path, uint32_t folderEnd, const char *temp)
{
    memcpy(SafeFolder, path, folderEnd + 1);
    SafeLength = folderEnd;
    ShowFileStarted(path);
    bool good = DecodeEntryData();
#ifdef SFX_STUB_AES
    if (good && WritingRunEntry)
        RunEntryCrc = RunningCrc ^ 0xFFFFFFFF;
#endif
    // The archive's time when the settings ask for it: after the last write,
    // which would set it again, and before the close.  No time, or one the
    // system refuses, leaves the file as it is.
    if (RestoreFileTimes) {
        uint64_t t = EntryFileTime ? EntryFileTime
                                   : DosTimeToFileTime((uint32_t)LocalHeader.ModDate << 16 | LocalHeader.ModTime);
        if (t)
            FileSetTime(OutputFile, t);
    }
    if (!FileClose(OutputFile))
        ShowMessage(path, CAPTION_CANNOT_CLOSE);
    OutputFile = NoFile;
    // What replaces an old file could still fail to take its place (a
    // read-only file, a folder of that name): as if it could not be made.
    if (good && temp && !FileReplace(temp, path)) {
        CannotOpen(path);
        good = false;
    }
    if (good) {
        Deselect(list);
        WriteZoneMark(path);
    } else {
        FileDelete(temp ? temp : path);
    }
}

// One entry of the extraction run: judged, its file opened, its data
// written.
static EntryResult ExtractEntry(SfxWindow list, const Text &name, int32_t entry, bool &proceed)
{
    if (!FindSelectedItem(list, name.Data, entry))
        return EntryNext;
    // An entry that cannot be decoded must not cost an existing file its
    // contents, nor leave folders behind: it is judged before any of them.
    uint8_t kind = JudgeEntry(name.Data, LastSeekPosition);
    if (kind == EntryNameRefused) {
        ShowMessage(name.Data, TEXT_BAD_NAME);
        // The item stays selected, so the run reports it as left over.
        proceed = true;
        return EntryNext;
    }
    Text fileName = {0, 0};
    FileNamePart(name.Data, fileName);
    bool folderEntry = fileName.Length == 0;
    TextFree(fileName);
    if (folderEntry) {
        Deselect(list);
        return EntryNext;
    }

    proceed = !NeedsPassword() || PasswordFits();
    if (!proceed)
        return EntryStopWalk;

    // A folder cut to fit would be another folder: one that does not fit
    // is refused whole, before the file system sees any of it.
    if (Utf16Units(TargetFolder) > TargetFolderChars) {
        ShowMessage(TargetFolder, CAPTION_FOLDER_ERROR);
        return EntryStopWalk;
    }
    char *temp = 0;
    char *path = BuildTargetPath(name);
    uint32_t folderEnd = 0;
    EntryResult result = OpenEntryFile(list, name, path, folderEnd, kind == EntryUndecodable, temp);
    if (result == EntryWrite) {
        WriteEntryFile(list, path, folderEnd, temp);
        result = EntryNext;
    }
    FreeMem(temp);
    FreeMem(path);
    return result;
}

static void ReportRun(SfxWindow dialog, SfxWindow list, bool listing, bool proceed)
{
    if (listing) {
        if (SendMessageW(list, LB_GETCOUNT, 0, 0) <= 0)
            ShowMessage(TEXT_NO_HEADER, CAPTION_ERROR);
        return;
    }
    if (!proceed)
        return;
    if (SendMessageW(list, LB_GETSELCOUNT, 0, 0) == 0) {
        ShowMessage(TEXT_ALL_DONE, CAPTION_ALL_DONE);
        ExtractSucceeded = 1;
    } else {
        ShowMessage(TEXT_ITEMS_LEFT, CAPTION_ITEMS_LEFT);
        SetStatus(dialog, STATUS_ITEMS_LEFT);
        ExtractSucceeded = 0;
    }
}

// The run's list made ready: emptied for the listing run, mapped for the
// extraction run, with the bar in the status line's place.
SFX_PART void PrepareList(SfxWindow dialog, SfxWindow list, bool listing)
{
    if (listing) {
        SendMessageW(list, LB_RESETCONTENT, 0, 0);
        // Sorted and searched as on Korean Windows, whatever the system's
        // own locale: names outside code page 949 take the same order.  The
        // list's own locale is the user's; it is replaced only where that
        // is not Korean, so Korean systems keep exactly the list they had.
        if (PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID())) != LANG_KOREAN)
            SendMessageW(list, LB_SETLOCALE, MAKELCID(0x0412, SORT_DEFAULT), 0);
        ProgressTotal = 0;
        return;
    }
    MapItems(list);
    // The bar stands in the status line's place; a silent run shows none.
    if (!Silent) {
        ProgressBar = GetDlgItem(dialog, IDC_STATUS);
        ProgressDone = 0;
        ProgressShown = GetTickCount();
    }
}

// The listing run's step: the entry's name in the list, which remembers
// the entry's place in the archive (MapItems), and its size in the run's.
SFX_PART void ListEntry(SfxWindow list, const Text &name, int32_t entry)
{
    ProgressTotal += LocalHeader.UncompressedSize;
    LRESULT at = SendMessageW(list, LB_ADDSTRING, 0, Wide(name.Data).Param());
    if (at >= 0)
        SendMessageW(list, LB_SETITEMDATA, at, entry + 1);
}

// What the run allocated for itself, released; a new run may start.
SFX_PART void FreeRun()
{
    FreeMem(UnshownPath);
    UnshownPath = 0;
    FreeMem(ItemOfEntry);
    ItemOfEntry = 0;
    RunInProgress = false;
}

// The run's end: the bar gone, the last name shown, and the report unless
// the run ended without one.
SFX_PART void EndRun(SfxWindow dialog, SfxWindow list, bool listing, bool report, bool proceed)
{
    // Without the bar the status line looks as it always did at the end.
    if (ProgressBar) {
        ProgressBar = 0;
        InvalidateRect(GetDlgItem(dialog, IDC_STATUS), NULL, TRUE);
    }
    ShowPendingStatus();
    if (ArchiveUnread)
        SetStatus(dialog, STATUS_UNREAD);
    else if (report)
        ReportRun(dialog, list, listing, proceed);
}

void ExtractEntries(SfxWindow dialog, int listId, bool listing)
{
    // The prompts have no owner and one message is pumped before each file,
    // so a command of the main dialog can call in here during a run.  The
    // shared state admits one run at a time: a second one is refused.
    if (RunInProgress)
        return;
    RunInProgress = true;
    RunDialog = dialog;
    LastShown = GetTickCount() - StatusInterval;
    ExtractSucceeded = 0;
    RunEntryFound = false;
    SafeLength = 0;
    bool proceed = false;
    SfxWindow list = GetDlgItem(dialog, listId);

    SeekArchive(ArchiveStart);
    if (LastSeekPosition == -1) {
        ShowMessage(TEXT_READ_ERROR, CAPTION_ARCHIVE_ERROR);
        RunInProgress = false;
        return;
    }
    UnshownPath = (char *)GetMem(UnshownPathSize);
    UnshownPath[0] = 0;
    Text name = {0, 0};
    ListSearchIndex = -1;
    PrepareList(dialog, list, listing);
    StopRequested = false;
    int32_t entry = 0;

    bool report = true;
    // A walk that ended before the central directory may have left entries
    // unread, and an empty name stops it the same way: no run over such an
    // archive counts as complete, whatever it extracted.
    ArchiveUnread = false;
    bool more = ReadNextHeader();
    while (more) {
        int32_t headerPosition = LastSeekPosition;
        ReadEntry(headerPosition, name, 0);
        if (name.Length == 0) {
            ShowMessage(TEXT_BAD_NAME, CAPTION_ARCHIVE_ERROR);
            ArchiveUnread = true;
            break;
        }
        if (listing) {
            ListEntry(list, name, entry);
        } else {
            EntryResult r = ExtractEntry(list, name, entry, proceed);
            if (r == EntryEndRun)
                report = false;
            // Asked to stop: what is extracted stays, and the entries not
            // reached stay selected, so the run reports itself incomplete.
            if (r != EntryNext || StopRequested)
                break;
        }
        more = AdvanceToNextHeader(headerPosition);
        entry++;
        if (!more && WalkEnded != WalkAtDirectory) {
            ShowMessage(TEXT_READ_ERROR, CAPTION_ARCHIVE_ERROR);
            ArchiveUnread = true;
        }
    }
    EndRun(dialog, list, listing, report, proceed);
    TextFree(name);
    FreeRun();
}

// A folder "sfx" and 8 hexadecimal digits, new, below the temporary folder
// TargetFolder[0, n) names, made by this call: TargetFolder then names it.
SFX_PART bool MakeUniqueFolder(char *target, uint32_t n)
{
    memcpy(target + n, "\\sfx", 4);
    for (uint32_t unique = GetTickCount() ^ GetCurrentProcessId() << 16, tries = 0;; unique++) {
        for (int i = 0; i < 8; i++)
            target[n + 4 + i] = "0123456789abcdef"[unique >> (28 - 4 * i) & 15];
        target[n + 12] = 0;
        if (FolderCreate(target))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS || ++tries == 1000)
            return false;
    }
}

bool MakeOwnTempFolder(SfxWindow dialog)
{
    // Anyone may create files and links in a temporary folder (all of
    // C:\Windows\Temp for a deployment tool running as SYSTEM): the run
    // goes into a folder that did not exist and that this call made, so
    // nothing of anybody else's stands in its way.  A folder the user
    // chose instead is taken as it is.
    char temp[TargetFolderSize];
    temp[0] = 0;
    TempFolder(temp, MaxTargetPath);
    char *target = InRegister(TargetFolder);
    uint32_t n = TextLength(target);
    if (SameBytes(temp, target, n) && temp[n] == '\\' && temp[n + 1] == 0) {
        if (n > TargetFolderSize - 16 || !MakeUniqueFolder(target, n)) {
            ShowMessage(target, CAPTION_FOLDER_ERROR);
            return false;
        }
        // The field shows where the files went, and a second try goes there.
        SetDlgItemTextW(dialog, IDC_FOLDER, Wide(target));
    }
    return true;
}

// The download's mark.  A file fetched from the internet carries a
// Zone.Identifier stream ("[ZoneTransfer]", "ZoneId=3"), which SmartScreen,
// Office's Protected View and Smart App Control look at.  Windows' own ZIP
// folder copies it to what it extracts; so does the stub, so that an
// extracted program or macro document meets every check its download would
// have met.  A mark that cannot be read means nothing is written, and a
// file whose mark cannot be written is still extracted.
static const char StreamName[] = ":Zone.Identifier";
// "3" (the internet) or "4" (restricted sites), or nothing.
static char ZoneId;
static const char *Referrer;

static char *StreamOf(const char *path)
{
    uint32_t n = TextLength(path);
    char *name = (char *)GetMem(n + sizeof StreamName);
    memcpy(name, path, n);
    memcpy(name + n, StreamName, sizeof StreamName);
    return name;
}

static bool Begins(const char *text, const char *start)
{
    while (*start && *text == *start) {
        text++;
        start++;
    }
    return !*start;
}

void ReadZoneMark(const char *ownPath)
{
    char *name = StreamOf(ownPath);
    SfxFile f = FileOpenRead(name);
    FreeMem(name);
    if (f == NoFile)
        return;
    // A few KiB say all a mark says; the rest is not read.
    enum { MarkLimit = 4096 };
    char *text = (char *)GetMem(MarkLimit + 1);
    int32_t got = FileRead(f, text, MarkLimit);
    FileClose(f);
    text[got > 0 ? got : 0] = 0;
    bool section = false;
    for (char *line = text; *line;) {
        char *end = line;
        while (*end && *end != '\r' && *end != '\n')
            end++;
        uint32_t n = (uint32_t)(end - line);
        if (n && line[0] == '[')
            section = n == 14 && Begins(line, "[ZoneTransfer]");
        else if (section && n == 8 && Begins(line, "ZoneId=") && (line[7] == '3' || line[7] == '4'))
            ZoneId = line[7];
        line = *end ? end + 1 : end;
    }
    FreeMem(text);
    Referrer = ownPath;
}

void WriteZoneMark(const char *path)
{
    if (!ZoneId)
        return;
    static const char head[] = "[ZoneTransfer]\r\nZoneId=0\r\nReferrerUrl=";
    uint32_t n = TextLength(Referrer);
    char *mark = (char *)GetMem(sizeof head + n + 2);
    memcpy(mark, head, sizeof head - 1);
    mark[sizeof "[ZoneTransfer]\r\nZoneId=" - 1] = ZoneId;
    memcpy(mark + sizeof head - 1, Referrer, n);
    memcpy(mark + sizeof head - 1 + n, "\r\n", 2);
    char *name = StreamOf(path);
    SfxFile f = FileCreate(name);
    FreeMem(name);
    if (f != NoFile) {
        FileWrite(f, mark, sizeof head - 1 + n + 2);
        FileClose(f);
    }
    FreeMem(mark);
}
