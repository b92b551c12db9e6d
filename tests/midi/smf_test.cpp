// The Standard MIDI File check and the music-time arithmetic.
#include "midi/smf.h"

#include <gtest/gtest.h>

#include "midi/music_time.h"
#include "smf_writer.h"

namespace qrv::midi {
namespace {

using testing::Bytes;
using testing::Smf;
using testing::Song;
using testing::Track;

TEST(MusicTime, QuarterNotesTruncateAndStartsDoNotOverflow) {
    EXPECT_EQ(MusicTimeToQuarters(0), 0);
    EXPECT_EQ(MusicTimeToQuarters(767), 0);
    EXPECT_EQ(MusicTimeToQuarters(1535), 1);
    EXPECT_EQ(MusicTimeToQuarters(1536), 2);
    EXPECT_EQ(QuartersToMusicTime(8), 6144);
    // 2796203 quarter notes are past 32 bits of music time.
    EXPECT_EQ(QuartersToMusicTime(2796203), int64_t{2796203} * 768);
    EXPECT_EQ(MusicTimeToQuarters(QuartersToMusicTime(INT32_MAX)), INT32_MAX);
}

TEST(MusicTime, TicksConvertExactlyForAnyDivision) {
    struct Case {
        int32_t division;
        int64_t ticks, musicTime;
    } cases[] = {{96, 96, 768}, {480, 480, 768}, {480, 1, 1}, {480, 3, 4},
                 {96, 1, 8},    {1000, 1, 0},    {1, 5, 3840}, {32767, 32767 * 4, 3072}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.division);
        EXPECT_EQ(TicksToMusicTime(c.ticks, c.division), c.musicTime);
    }
    // Music time to ticks and back never moves past where it started.
    for (int32_t division : {96, 480, 1000, 7}) {
        for (int64_t mt : {0, 1, 767, 768, 6144, 100000}) {
            EXPECT_LE(TicksToMusicTime(MusicTimeToTicks(mt, division), division), mt);
        }
        EXPECT_EQ(MusicTimeToTicks(6144, division), 8 * division);
    }
}

TEST(Smf, ReadsFormatDivisionTracksAndLength) {
    Track runningStatus;
    runningStatus.Event(0, {0x90, 60, 100}).Event(10, {62, 100}).Event(10, {0xF0, 2, 0x7E, 0xF7})
        .Event(5, {0xFF, 0x01, 3, 'a', 'b', 'c'}).End(7);
    Track noEndOfTrack;
    noEndOfTrack.Event(40, {0xC0, 5});
    Bytes withUnknownChunk = Smf(1, 96, {});
    withUnknownChunk[11] = 1; // one track announced
    testing::AppendChunk(withUnknownChunk, "XFIH", {1, 2, 3});
    testing::AppendChunk(withUnknownChunk, "MTrk", Track().End(12).Data());
    Bytes longHeader = {'M', 'T', 'h', 'd', 0, 0, 0, 8, 0, 0, 0, 1, 0, 96, 0xAA, 0xBB};
    testing::AppendChunk(longHeader, "MTrk", Track().End(3).Data());

    struct Case {
        const char *name;
        Bytes bytes;
        int32_t format, tracks, division;
        int64_t length;
    } cases[] = {
        {"format 0, division 96", Song(0, 96, 8), 0, 1, 96, 8 * 96},
        {"format 1, division 480", Song(1, 480, 8), 1, 2, 480, 8 * 480},
        {"running status, sysex, text", Smf(0, 120, {runningStatus}), 0, 1, 120, 32},
        {"track without end", Smf(1, 96, {Track().End(100), noEndOfTrack}), 1, 2, 96, 100},
        {"unknown chunk skipped", withUnknownChunk, 1, 1, 96, 12},
        {"header longer than 6", longHeader, 0, 1, 96, 3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<SmfInfo> info = ParseSmf(c.bytes);
        ASSERT_TRUE(info.has_value());
        EXPECT_EQ(info->format, c.format);
        EXPECT_EQ(info->trackCount, c.tracks);
        EXPECT_EQ(info->division, c.division);
        EXPECT_EQ(info->lengthTicks, c.length);
    }
}

TEST(Smf, RejectsWhatIsNotAPlayableFile) {
    const Bytes good = Song(0, 96, 2);
    auto with = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    auto cut = [&](size_t size) { return Bytes(good.begin(), good.begin() + size); };
    Bytes longTrack;
    {
        Track t;
        for (int i = 0; i < 20; ++i) t.Event(0x0FFFFFFF, {0xC0, 0});
        longTrack = Smf(0, 96, {t});
    }
    struct Case {
        const char *name;
        Bytes bytes;
    } cases[] = {
        {"empty", {}},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n', 0, 0}},
        {"header only", cut(14)},
        {"header length 5", with(7, 5)},
        {"header length past end", with(6, 1)},
        {"format 2", with(9, 2)},
        {"no tracks", with(11, 0)},
        {"format 0 with two tracks", with(11, 2)},
        {"division 0", with(13, 0)}, // 96 has a zero high byte
        {"SMPTE division", with(12, 0xE7)},
        {"track chunk misnamed", with(14, 'X')},
        {"track length past end", with(21, 0xFF)},
        {"track cut short", cut(good.size() - 1)},
        {"running status first", Smf(0, 96, {Track().Event(0, {60, 100}).End()})},
        {"data byte with top bit", Smf(0, 96, {Track().Event(0, {0x90, 0x80, 100}).End()})},
        {"system message in file", Smf(0, 96, {Track().Event(0, {0xF2, 0, 0}).End()})},
        {"meta length past chunk", Smf(0, 96, {Track().Event(0, {0xFF, 0x01, 9, 'a'})})},
        {"delta of five bytes", Smf(0, 96, {Track().Raw({0x81, 0x81, 0x81, 0x81, 0x01, 0xC0, 0})})},
        {"delta with no event", Smf(0, 96, {Track().Event(5, {})})},
        {"longer than 2^31 ticks", longTrack},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ParseSmf(c.bytes).has_value());
    }
}

} // namespace
} // namespace qrv::midi
