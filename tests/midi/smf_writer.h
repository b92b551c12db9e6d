// Builds Standard MIDI Files in memory for the tests, and writes them to files
// that are removed when the test ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>

namespace qrv::midi::testing {

using Bytes = std::vector<uint8_t>;

inline void AppendVarLen(Bytes &out, uint32_t value) {
    uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = value & 0x7F;
        value >>= 7;
    } while (value != 0);
    while (n > 1) out.push_back(static_cast<uint8_t>(groups[--n] | 0x80));
    out.push_back(groups[0]);
}

inline void AppendU32(Bytes &out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// One track's events, each a delta time and the event's bytes.
class Track {
public:
    Track &Event(uint32_t delta, std::initializer_list<uint8_t> bytes) {
        AppendVarLen(data_, delta);
        data_.insert(data_.end(), bytes);
        return *this;
    }
    Track &Raw(std::initializer_list<uint8_t> bytes) {
        data_.insert(data_.end(), bytes);
        return *this;
    }
    Track &Tempo(uint32_t delta, uint32_t microsecondsPerQuarter) {
        return Event(delta, {0xFF, 0x51, 0x03, static_cast<uint8_t>(microsecondsPerQuarter >> 16),
                             static_cast<uint8_t>(microsecondsPerQuarter >> 8),
                             static_cast<uint8_t>(microsecondsPerQuarter)});
    }
    // A note on and, length ticks later, its note off.
    Track &Note(uint32_t delta, uint8_t key, uint32_t length) {
        Event(delta, {0x90, key, 100});
        return Event(length, {0x80, key, 0});
    }
    Track &End(uint32_t delta = 0) { return Event(delta, {0xFF, 0x2F, 0x00}); }
    const Bytes &Data() const { return data_; }

private:
    Bytes data_;
};

inline void AppendChunk(Bytes &out, const char *type, const Bytes &body) {
    out.insert(out.end(), type, type + 4);
    AppendU32(out, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

inline Bytes Smf(uint16_t format, uint16_t division, const std::vector<Track> &tracks) {
    Bytes out;
    const Bytes header = {0, static_cast<uint8_t>(format), static_cast<uint8_t>(tracks.size() >> 8),
                          static_cast<uint8_t>(tracks.size()), static_cast<uint8_t>(division >> 8),
                          static_cast<uint8_t>(division)};
    AppendChunk(out, "MThd", header);
    for (const Track &track : tracks) AppendChunk(out, "MTrk", track.Data());
    return out;
}

// A song of `quarters` quarter notes, one piano note per quarter, at 120 beats a
// minute unless told: format 0 as one track, format 1 as a tempo track and a note
// track.
inline Bytes Song(uint16_t format, uint16_t division, int quarters,
                  uint32_t microsecondsPerQuarter = 500000) {
    Track notes;
    if (format == 0) notes.Tempo(0, microsecondsPerQuarter);
    notes.Event(0, {0xC0, 0x00});
    for (int i = 0; i < quarters; ++i) {
        notes.Note(0, static_cast<uint8_t>(60 + i % 12), division);
    }
    notes.End();
    if (format == 0) return Smf(0, division, {notes});
    Track tempo;
    tempo.Tempo(0, microsecondsPerQuarter).End(static_cast<uint32_t>(quarters) * division);
    return Smf(1, division, {tempo, notes});
}

// A file in the test's temporary directory, removed when it goes out of scope.
// Its name carries the process id and a count, since test processes run side by
// side in one directory.
class TempFile {
public:
    TempFile(const std::string &name, const Bytes &bytes)
        : path_(std::filesystem::path(::testing::TempDir()) / UniqueName(name)) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    std::string Path() const { return path_.string(); }

private:
    static std::string UniqueName(const std::string &name) {
        static std::atomic<int> count{0};
        return "qrv-midi-" + std::to_string(getpid()) + "-" + std::to_string(count++) + "-" + name;
    }
    std::filesystem::path path_;
};

} // namespace qrv::midi::testing
