// Feeds arbitrary bytes to the Standard MIDI File check. Whatever it accepts must
// be safe to hand to the synthesizer's player.
#include <cstdint>
#include <cstdlib>

#include "midi/music_time.h"
#include "midi/smf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::optional<qrv::midi::SmfInfo> info = qrv::midi::ParseSmf({data, size});
    if (!info) return 0;
    if (info->format < 0 || info->format > 1 || info->trackCount < 1 || info->division < 1 ||
        info->division > 0x7FFF || info->lengthTicks < 0 || info->lengthTicks > INT32_MAX) {
        std::abort();
    }
    // The length in music time and back stays within the file's ticks.
    const int64_t length = qrv::midi::TicksToMusicTime(info->lengthTicks, info->division);
    if (qrv::midi::MusicTimeToTicks(length, info->division) > info->lengthTicks) std::abort();
    return 0;
}
