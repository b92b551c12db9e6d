// Win32 services the engine relies on, on POSIX. UTF-8 is the system code page and
// '/' the path separator.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wintypes.h"

// Milliseconds since an arbitrary start, 32 bits, wrapping about every 49.7 days.
DWORD GetTickCount();
void Sleep(DWORD milliseconds);

// The path of the host executable. Win32's rules: the result is cut to size - 1
// characters and terminated; the return value is the number of characters copied
// (size when cut), 0 on failure.
DWORD GetModuleFileNameA(void *module, char *buffer, DWORD size);

// The current directory. Returns its length when it fits (not counting the
// terminator), else the size needed including the terminator, 0 on failure.
DWORD GetCurrentDirectoryA(DWORD size, char *buffer);

// UTF-8 (CP_ACP, CP_UTF8) to UTF-16 with Win32's buffer rules: size 0 asks for the
// length; a byte count of -1 includes the terminator; too small a buffer gives 0.
#define CP_ACP 0u
#define CP_UTF8 65001u
int MultiByteToWideChar(UINT codePage, DWORD flags, const char *text, int bytes,
                        char16_t *wide, int wideSize);

// File access as far as the engine reads files.
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))

HANDLE CreateFileA(const char *path, DWORD access, DWORD shareMode, void *security,
                   DWORD creation, DWORD flags, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void *buffer, DWORD bytesToRead, DWORD *bytesRead,
              void *overlapped);
BOOL CloseHandle(HANDLE handle);
