// Music time: 768 units to the quarter note, whatever division a file counts in.
// Conversions are integer arithmetic on 64 bits and truncate toward zero, so a
// position converted to ticks and back never moves forward.
#pragma once

#include <cstdint>

namespace qrv::midi {

// Music-time units per quarter note.
inline constexpr int64_t kMusicTimePerQuarter = 768;

// A file's ticks (division ticks to the quarter note) in music time.
constexpr int64_t TicksToMusicTime(int64_t ticks, int32_t division) {
    return ticks * kMusicTimePerQuarter / division;
}

// Music time in a file's ticks.
constexpr int64_t MusicTimeToTicks(int64_t musicTime, int32_t division) {
    return musicTime * division / kMusicTimePerQuarter;
}

// Whole quarter notes in a music time, as the exports count positions.
constexpr int32_t MusicTimeToQuarters(int64_t musicTime) {
    const int64_t quarters = musicTime / kMusicTimePerQuarter;
    if (quarters > INT32_MAX) return INT32_MAX;
    if (quarters < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(quarters);
}

// The music time of a start given in quarter notes. Computed on 64 bits: a
// quarter-note count times 768 does not fit 32 bits beyond 2796202.
constexpr int64_t QuartersToMusicTime(int32_t quarters) {
    return static_cast<int64_t>(quarters) * kMusicTimePerQuarter;
}

} // namespace qrv::midi
