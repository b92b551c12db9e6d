// Seams for tests of the StandaloneEngine: the clock the frame turns by, and the
// folder "texture.ps" is looked for in.
#pragma once

#include "platform/win32/wintypes.h"

namespace qrv::standalone {

// While set, the frame takes its tick count from source instead of
// GetTickCount. Pass null to restore the real clock.
using TickSource = DWORD (*)();
void SetTickSource(TickSource source);

// While set (not null), "texture.ps" is looked for in folder instead of the host
// program's folder. The string is copied.
void SetTextureShaderFolder(const char *folder);

} // namespace qrv::standalone
