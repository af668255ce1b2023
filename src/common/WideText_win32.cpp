#include "WideText.h"

#include "Memory.h"
#include "SFXgbls.h"

Wide::Wide(const char *text) : Data(0)
{
    if (!text)
        return;
    int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, NULL, 0) + 1;
    Data = (wchar_t *)GetMem((uint32_t)n * sizeof(wchar_t));
    Data[0] = 0;
    MultiByteToWideChar(CP_UTF8, 0, text, -1, Data, n);
}

Wide::~Wide()
{
    FreeMem(Data);
}

uint32_t Utf8FromWide(const wchar_t *text, char *out, uint32_t size)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, NULL, 0, NULL, NULL);
    char *all = (char *)GetMem((uint32_t)(n > 0 ? n : 1));
    all[0] = 0;
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, all, n, NULL, NULL);
    uint32_t length = 0;
    while (all[length])
        length++;
    if (length >= size) {
        // A cut character would be no character at all.
        length = size - 1;
        while (length && ((uint8_t)all[length] & 0xC0) == 0x80)
            length--;
    }
    for (uint32_t i = 0; i < length; i++)
        out[i] = all[i];
    out[length] = 0;
    FreeMem(all);
    return length;
}

uint32_t WindowTextUtf8(HWND window, char *out, uint32_t units)
{
    wchar_t *text = (wchar_t *)GetMem(units * sizeof(wchar_t));
    text[0] = 0;
    GetWindowTextW(window, text, (int)units);
    uint32_t n = Utf8FromWide(text, out, units * 3);
    FreeMem(text);
    return n;
}

void SetWindowUtf8(HWND window, const char *text)
{
    SetWindowTextW(window, Wide(text));
}

int MessageUtf8(HWND owner, const char *text, const char *caption, UINT type)
{
    // A silent run reports through its exit code alone.
    if (Silent)
        return IDOK;
    return MessageBoxW(owner, Wide(text), Wide(caption), type);
}

uint32_t SystemTextUtf8(WideTextCall call, char *out, uint32_t units)
{
    wchar_t *text = (wchar_t *)GetMem(units * sizeof(wchar_t));
    uint32_t n = call(units, text);
    if (n && n < units)
        Utf8FromWide(text, out, units * 3);
    FreeMem(text);
    return n;
}
