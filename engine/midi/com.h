// The thread's COM initialisation, reduced to what the player needs: a count per
// thread, raised by CoInitialize and lowered by CoUninitialize. A player raises it
// when created and lowers it when destroyed, so a thread that creates and destroys
// players in pairs ends where it began.
#pragma once

#include <cstdint>

namespace qrv::midi {

void CoInitialize();
void CoUninitialize();
// The calling thread's count; never below 0.
int32_t CoInitializeCount();

} // namespace qrv::midi
