// The per-thread COM initialisation count.
#include "midi/com.h"

namespace qrv::midi {
namespace {
thread_local int32_t initializeCount = 0;
} // namespace

void CoInitialize() { ++initializeCount; }

void CoUninitialize() {
    if (initializeCount > 0) --initializeCount;
}

int32_t CoInitializeCount() { return initializeCount; }

} // namespace qrv::midi
