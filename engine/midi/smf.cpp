// Standard MIDI File structure check.
#include "midi/smf.h"

#include <cstring>

namespace qrv::midi {
namespace {

// A bounded reader over one chunk's bytes; every read checks what is left.
class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    bool AtEnd() const { return pos_ >= bytes_.size(); }
    size_t Left() const { return bytes_.size() - pos_; }

    bool Byte(uint8_t &out) {
        if (AtEnd()) return false;
        out = bytes_[pos_++];
        return true;
    }
    bool Peek(uint8_t &out) const {
        if (AtEnd()) return false;
        out = bytes_[pos_];
        return true;
    }
    bool U16(uint32_t &out) {
        if (Left() < 2) return false;
        out = (uint32_t{bytes_[pos_]} << 8) | bytes_[pos_ + 1];
        pos_ += 2;
        return true;
    }
    bool U32(uint32_t &out) {
        if (Left() < 4) return false;
        out = (uint32_t{bytes_[pos_]} << 24) | (uint32_t{bytes_[pos_ + 1]} << 16) |
              (uint32_t{bytes_[pos_ + 2]} << 8) | bytes_[pos_ + 3];
        pos_ += 4;
        return true;
    }
    // A variable-length quantity: at most four bytes, seven bits each.
    bool VarLen(uint32_t &out) {
        out = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b;
            if (!Byte(b)) return false;
            out = (out << 7) | (b & 0x7Fu);
            if ((b & 0x80u) == 0) return true;
        }
        return false;
    }
    bool Skip(size_t n) {
        if (n > Left()) return false;
        pos_ += n;
        return true;
    }
    bool Take(size_t n, std::span<const uint8_t> &out) {
        if (n > Left()) return false;
        out = bytes_.subspan(pos_, n);
        pos_ += n;
        return true;
    }

private:
    std::span<const uint8_t> bytes_;
    size_t pos_ = 0;
};

bool ChunkType(Reader &in, char type[4]) {
    for (int i = 0; i < 4; ++i) {
        uint8_t b;
        if (!in.Byte(b)) return false;
        type[i] = static_cast<char>(b);
    }
    return true;
}

// The synthesizer's player counts ticks in a 32-bit int.
constexpr int64_t kMaxTicks = INT32_MAX;

// Walks one track's events; gives the tick of its last event, or -1 when the
// track is malformed.
int64_t TrackLength(std::span<const uint8_t> track) {
    Reader in(track);
    int64_t tick = 0;
    uint8_t running = 0; // the last channel status, for running status
    while (!in.AtEnd()) {
        uint32_t delta;
        if (!in.VarLen(delta)) return -1;
        tick += delta;
        if (tick > kMaxTicks) return -1;
        uint8_t status;
        if (!in.Peek(status)) return -1; // a delta with no event after it
        if (status == 0xFF) {
            in.Skip(1);
            uint8_t type;
            uint32_t length;
            if (!in.Byte(type) || type >= 0x80 || !in.VarLen(length) || !in.Skip(length)) {
                return -1;
            }
            if (type == 0x2F) return tick; // end of track; later bytes are ignored
        } else if (status == 0xF0 || status == 0xF7) {
            in.Skip(1);
            uint32_t length;
            if (!in.VarLen(length) || !in.Skip(length)) return -1;
        } else if (status > 0xF0) {
            return -1; // system common and real-time messages do not occur in files
        } else {
            if (status & 0x80) {
                running = status;
                in.Skip(1);
            } else if (running == 0) {
                return -1; // running status with no status before it
            }
            const uint8_t kind = running & 0xF0;
            const int dataBytes = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            for (int i = 0; i < dataBytes; ++i) {
                uint8_t data;
                if (!in.Byte(data) || data >= 0x80) return -1;
            }
        }
    }
    return tick; // no end-of-track event: the track ends with its last event
}

} // namespace

std::optional<SmfInfo> ParseSmf(std::span<const uint8_t> bytes) {
    Reader in(bytes);
    char type[4];
    uint32_t headerLength;
    if (!ChunkType(in, type) || std::memcmp(type, "MThd", 4) != 0 || !in.U32(headerLength) ||
        headerLength < 6 || headerLength > in.Left()) {
        return std::nullopt;
    }
    uint32_t format = 0, tracks = 0, division = 0; // the 6 bytes are there: checked above
    in.U16(format);
    in.U16(tracks);
    in.U16(division);
    in.Skip(headerLength - 6);
    // Format 2 holds independent patterns, which a player of simultaneous tracks
    // would sound together; SMPTE divisions (top bit set) are not played.
    if (format > 1 || tracks == 0 || division == 0 || (division & 0x8000u)) return std::nullopt;
    if (format == 0 && tracks != 1) return std::nullopt;

    SmfInfo info;
    info.format = static_cast<int32_t>(format);
    info.division = static_cast<int32_t>(division);
    while (info.trackCount < static_cast<int32_t>(tracks)) {
        uint32_t length;
        std::span<const uint8_t> chunk;
        if (!ChunkType(in, type) || !in.U32(length) || !in.Take(length, chunk)) {
            return std::nullopt; // a track announced but missing or cut short
        }
        if (std::memcmp(type, "MTrk", 4) != 0) continue; // an unknown chunk
        const int64_t trackLength = TrackLength(chunk);
        if (trackLength < 0) return std::nullopt;
        if (trackLength > info.lengthTicks) info.lengthTicks = trackLength;
        ++info.trackCount;
    }
    return info;
}

} // namespace qrv::midi
