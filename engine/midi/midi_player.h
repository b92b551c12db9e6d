// MidiPlayer: the object behind a MIDI handle. It plays one Standard MIDI File
// through its own performance, from a start given in quarter notes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "midi/performance.h"
#include "midi/segment.h"

namespace qrv::midi {

class MidiPlayer {
public:
    // Loads the file and prepares the performance. Whatever fails, the player is
    // made: without a loaded segment Play does nothing and GetPos gives 0.
    MidiPlayer(const std::string &fileName, const AudioSettings &settings);
    virtual ~MidiPlayer();
    MidiPlayer(const MidiPlayer &) = delete;
    MidiPlayer &operator=(const MidiPlayer &) = delete;

    // Plays from quarter note start; a negative start keeps the last start point.
    void Play(int32_t start);
    // The position in whole quarter notes; 0 before the first Play.
    int32_t GetPos() const;
    // Scales the speed; ignored unless tempo > 0.
    void TempoChange(float tempo);

    // For tests and tools.
    bool Loaded() const { return segment != nullptr; }
    Performance *GetPerformance() const { return performance.get(); }
    const SegmentState *GetSegmentState() const { return segmentState.get(); }

private:
    std::unique_ptr<Performance> performance;
    std::unique_ptr<Loader> loader;
    std::unique_ptr<Segment> segment;
    std::shared_ptr<SegmentState> segmentState;
};

} // namespace qrv::midi
