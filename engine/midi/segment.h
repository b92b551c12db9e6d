// The loaded music and its playing instances, shaped as DirectMusic's segment,
// segment state and loader.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "midi/smf.h"

namespace qrv::midi {

class Performance;

// A Standard MIDI File in memory: its bytes, its division, its length in music
// time and the start point of the next Play.
class Segment {
public:
    Segment(std::vector<uint8_t> bytes, const SmfInfo &info);

    std::span<const uint8_t> Bytes() const { return *bytes_; }
    int32_t Division() const { return division_; }
    // The time of the last event in music time, and in the file's ticks.
    int64_t Length() const { return length_; }
    int64_t LengthTicks() const { return lengthTicks_; }

    // Where the next Play starts, in music time; the beginning at first.
    int64_t StartPoint() const { return startPoint_; }
    // Sets the start point; a music time before 0 or past the end leaves it as it
    // was and gives false.
    bool SetStartPoint(int64_t musicTime);

    // Makes the segment playable on a performance: true when the performance has
    // instruments to sound it.
    bool Download(const Performance &performance);
    // Ends every instance of this segment that the performance is playing.
    void Unload(Performance &performance);
    bool Downloaded() const { return downloaded_; }

    // Identifies the music across the segment's playing instances.
    const void *Identity() const { return bytes_.get(); }
    std::shared_ptr<const std::vector<uint8_t>> SharedBytes() const { return bytes_; }

private:
    std::shared_ptr<const std::vector<uint8_t>> bytes_;
    int32_t division_;
    int64_t lengthTicks_;
    int64_t length_;
    int64_t startPoint_ = 0;
    bool downloaded_ = false;
};

// One playing instance of a segment, made by Performance::PlaySegmentEx. The
// performance writes its position as the music advances; the state stays readable
// after the music ends, stops, or the performance closes.
class SegmentState {
public:
    enum class Status : int32_t {
        Waiting, // for the beat on which it starts
        Playing,
        Ended,   // reached the end of the segment
        Stopped, // stopped, replaced by another segment or unloaded
    };

    explicit SegmentState(int64_t startPoint) : startPoint_(startPoint), seek_(startPoint) {}

    // The music time reached within the segment: the start point until the
    // segment starts, the segment's length once it has ended.
    int64_t GetSeek() const { return seek_.load(std::memory_order_relaxed); }
    int64_t StartPoint() const { return startPoint_; }
    Status GetStatus() const { return status_.load(std::memory_order_relaxed); }

private:
    friend class Performance;
    const int64_t startPoint_;
    std::atomic<int64_t> seek_;
    std::atomic<Status> status_{Status::Waiting};
};

// Loads Standard MIDI Files into segments.
class Loader {
public:
    // Files larger than this are not music this player loads.
    static constexpr size_t kMaxFileBytes = 16u << 20;

    // The segment of the file at path (UTF-8), or null when the file is missing,
    // unreadable, not a regular file, too large or not a Standard MIDI File that
    // can be played (see ParseSmf).
    std::unique_ptr<Segment> LoadObjectFromFile(const std::string &path);
};

} // namespace qrv::midi
