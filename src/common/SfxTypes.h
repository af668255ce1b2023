// Basic types shared by every module of the stub and by the host builds of
// its portable parts.  The stub is 32-bit Windows; the portable parts are
// also compiled for the Linux host so they can be unit-tested, fuzzed and
// benchmarked there.  SFX_STUB marks the stub's own build (and the Windows
// test programs that link it): the window helpers and the runtime's fatal
// report exist only there, not in the Windows builder.
#ifndef SFX_TYPES_H
#define SFX_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
typedef HWND SfxWindow;
#ifdef SFX_STUB
// The calls the stub makes from most places go through the import
// library's jump (one relocation for each) instead of an indirect call
// through the import table at every place (a relocation each, and a byte
// more of code): relocations are where the image's room is shortest.
extern "C" {
LRESULT WINAPI SendMessageJump(HWND, UINT, WPARAM, LPARAM) __asm__("_SendMessageW@16");
HWND WINAPI GetDlgItemJump(HWND, int) __asm__("_GetDlgItem@8");
HMODULE WINAPI GetModuleHandleJump(LPCWSTR) __asm__("_GetModuleHandleW@4");
BOOL WINAPI EndDialogJump(HWND, INT_PTR) __asm__("_EndDialog@8");
DWORD WINAPI GetTickCountJump() __asm__("_GetTickCount@0");
INT_PTR WINAPI DialogBoxParamJump(HINSTANCE, LPCWSTR, HWND, DLGPROC, LPARAM) __asm__("_DialogBoxParamW@20");
}
#define SendMessageW SendMessageJump
#define GetDlgItem GetDlgItemJump
#define GetModuleHandleW GetModuleHandleJump
#define EndDialog EndDialogJump
#define GetTickCount GetTickCountJump
#define DialogBoxParamW DialogBoxParamJump
#endif
#else
struct SfxWindowTag;
typedef SfxWindowTag *SfxWindow;
#endif

// A file handle of the thin file layer (FileIO.h).  Opaque everywhere.
typedef void *SfxFile;

// A part of one routine, given a name of its own so that each routine holds
// one concern; the stub takes it in whole at its one caller, where a call
// and a frame of its own would cost the image bytes it does not have.
#define SFX_PART __attribute__((always_inline)) static inline

#endif
