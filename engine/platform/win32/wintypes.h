// The handful of Win32 scalar types and records that the engine's Direct3D-shaped
// code is written in. Sizes match Win32's (LONG and DWORD are 32 bits).
#pragma once

#include <cstdint>

#include "qrv.h"

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using ULONG = uint32_t;
using INT = int32_t;
using LONG = int32_t;
using BOOL = int32_t;
using FLOAT = float;
using HANDLE = void *;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef MAX_PATH
#define MAX_PATH 260
#endif

struct RECT {
    LONG left, top, right, bottom;
};
