// Standard MIDI File structure check. A file is read in full before it is handed
// to the synthesizer's player, so malformed bytes never reach it, and so that the
// loader knows the file's division and length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace qrv::midi {

struct SmfInfo {
    int32_t format = 0;      // 0: one track; 1: simultaneous tracks
    int32_t trackCount = 0;  // MTrk chunks read
    int32_t division = 0;    // ticks to the quarter note (1 to 32767)
    int64_t lengthTicks = 0; // the latest event of any track, end of track included
};

// Checks bytes as a Standard MIDI File this player can play: format 0 or 1, a
// division in ticks per quarter note (SMPTE time codes are not played), every
// announced track present and each track's events well formed within its chunk.
// Chunks of unknown type are skipped. Returns nothing for anything else.
std::optional<SmfInfo> ParseSmf(std::span<const uint8_t> bytes);

} // namespace qrv::midi
