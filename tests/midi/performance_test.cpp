// The performance on FluidSynth with manual output: the music advances only as
// the test renders it, so positions are exact and nothing waits in real time.
#include "midi/performance.h"

#include <cmath>
#include <gtest/gtest.h>

#include "midi/music_time.h"
#include "smf_writer.h"

namespace qrv::midi {
namespace {

using Status = SegmentState::Status;

constexpr int64_t kQuarter = kMusicTimePerQuarter;

std::unique_ptr<Segment> MakeSegment(const testing::Bytes &bytes) {
    const std::optional<SmfInfo> info = ParseSmf(bytes);
    if (!info) return nullptr;
    return std::make_unique<Segment>(bytes, *info);
}

class PerformanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        AudioSettings settings;
        settings.output = AudioOutput::Manual;
        settings.soundFonts = DefaultSoundFonts();
        ASSERT_TRUE(performance.InitAudio(settings)) << "no General MIDI SoundFont installed";
        ASSERT_EQ(performance.OutputName(), "manual");
    }

    // Renders seconds of music; gives the peak magnitude of the sound.
    float Seconds(double seconds) {
        return performance.Render(
            static_cast<int32_t>(std::lround(seconds * performance.SampleRate())));
    }

    std::unique_ptr<Segment> Downloaded(const testing::Bytes &bytes) {
        std::unique_ptr<Segment> segment = MakeSegment(bytes);
        EXPECT_TRUE(segment && segment->Download(performance));
        return segment;
    }

    Performance performance;
};

// The synthesizer renders in blocks of 64 frames and hands out what is left of
// the block it rendered last before it takes any change into account.
constexpr int32_t kBlock = 64;

// One rendered block of FluidSynth (64 frames at 44.1 kHz) is under 1.5 ms: at
// 120 beats a minute, 3 ticks of 480 or 1 of 96, at most 6 units of music time.
constexpr int64_t kBlockSlack = 12;

TEST_F(PerformanceTest, MusicAdvancesAtTheFileTempoForEachFormatAndDivision) {
    struct Case {
        uint16_t format, division;
        uint32_t microsecondsPerQuarter;
        double quartersPerSecond;
    } cases[] = {{0, 96, 500000, 2}, {1, 480, 500000, 2}, {0, 480, 1000000, 1}, {1, 96, 250000, 4}};
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << c.format << " division " << c.division);
        auto segment = Downloaded(testing::Song(c.format, c.division, 16, c.microsecondsPerQuarter));
        auto state = performance.PlaySegmentEx(*segment, kPlayOnBeat);
        ASSERT_TRUE(state);
        EXPECT_EQ(state->GetStatus(), Status::Playing);
        EXPECT_GT(Seconds(1.0), 0.0f) << "the notes are heard";
        const auto expected = static_cast<int64_t>(c.quartersPerSecond * kQuarter);
        EXPECT_NEAR(state->GetSeek(), expected, kBlockSlack);
        performance.Stop();
    }
}

TEST_F(PerformanceTest, StartsAtTheStartPoint) {
    auto segment = Downloaded(testing::Song(1, 480, 16));
    ASSERT_TRUE(segment->SetStartPoint(8 * kQuarter));
    auto state = performance.PlaySegmentEx(*segment, kPlayOnBeat);
    ASSERT_TRUE(state);
    EXPECT_EQ(state->GetSeek(), 6144);
    Seconds(0.5);
    EXPECT_NEAR(state->GetSeek(), 9 * kQuarter, kBlockSlack);

    // A start point past the end is refused and the old one kept.
    EXPECT_FALSE(segment->SetStartPoint(17 * kQuarter));
    EXPECT_FALSE(segment->SetStartPoint(-1));
    EXPECT_EQ(segment->StartPoint(), 8 * kQuarter);
    EXPECT_TRUE(segment->SetStartPoint(16 * kQuarter)); // the very end is allowed
}

TEST_F(PerformanceTest, NothingFromBeforeTheStartPointSounds) {
    // A short note at the beginning, silence, and a note at quarter 8: a start at
    // quarter 8 sounds at once, and a start at quarter 4 stays silent until quarter 8.
    testing::Track track;
    track.Event(0, {0xC0, 0}).Note(0, 60, 48).Note(8 * 96 - 48, 64, 96).End();
    auto segment = Downloaded(testing::Smf(0, 96, {track}));
    ASSERT_TRUE(segment->SetStartPoint(8 * kQuarter));
    auto state = performance.PlaySegmentEx(*segment, kPlayOnBeat);
    EXPECT_GT(Seconds(0.1), 0.0f);
    performance.Stop();
    performance.Render(kBlock);
    EXPECT_EQ(Seconds(0.01), 0.0f);

    testing::Track late;
    late.Event(0, {0xC0, 0}).Note(0, 60, 48).Note(8 * 96 - 48, 64, 96).End();
    auto quiet = Downloaded(testing::Smf(0, 96, {late}));
    ASSERT_TRUE(quiet->SetStartPoint(4 * kQuarter));
    state = performance.PlaySegmentEx(*quiet, kPlayOnBeat);
    EXPECT_EQ(Seconds(1.9), 0.0f) << "the beginning's silence is kept after the seek";
    EXPECT_GT(Seconds(0.2), 0.0f);
}

TEST_F(PerformanceTest, MasterTempoScalesTheSpeedAndIgnoresNonPositiveValues) {
    auto segment = Downloaded(testing::Song(0, 96, 32));
    performance.SetMasterTempo(2.0f);
    auto state = performance.PlaySegmentEx(*segment, kPlayOnBeat);
    Seconds(1.0);
    EXPECT_NEAR(state->GetSeek(), 4 * kQuarter, 2 * kBlockSlack);

    for (float ignored : {0.0f, -1.0f, std::nanf("")}) {
        performance.SetMasterTempo(ignored);
        EXPECT_EQ(performance.MasterTempo(), 2.0f);
    }
    performance.SetMasterTempo(0.5f); // while playing
    const int64_t before = state->GetSeek();
    Seconds(1.0);
    EXPECT_NEAR(state->GetSeek() - before, kQuarter, kBlockSlack);

    performance.SetMasterTempo(1e6f);
    EXPECT_EQ(performance.MasterTempo(), 100.0f);
    performance.SetMasterTempo(1e-6f);
    EXPECT_EQ(performance.MasterTempo(), 0.01f);
}

TEST_F(PerformanceTest, PlayOnBeatWaitsForTheNextBeatOfTheMusicPlaying) {
    auto first = Downloaded(testing::Song(0, 96, 32));
    auto second = Downloaded(testing::Song(1, 480, 32));
    auto playing = performance.PlaySegmentEx(*first, kPlayOnBeat);
    Seconds(1.25); // two and a half quarter notes: the next beat is 0.25 s away

    ASSERT_TRUE(second->SetStartPoint(8 * kQuarter));
    auto next = performance.PlaySegmentEx(*second, kPlayOnBeat);
    EXPECT_EQ(next->GetStatus(), Status::Waiting);
    EXPECT_EQ(next->GetSeek(), 8 * kQuarter);
    // A second Play before the beat replaces the one waiting, not the one playing.
    auto replaced = next;
    next = performance.PlaySegmentEx(*second, kPlayOnBeat);
    EXPECT_EQ(replaced->GetStatus(), Status::Stopped);
    EXPECT_EQ(next->GetStatus(), Status::Waiting);
    EXPECT_GT(Seconds(0.2), 0.0f) << "the music playing goes on";
    EXPECT_EQ(next->GetStatus(), Status::Waiting);
    EXPECT_EQ(playing->GetStatus(), Status::Playing);

    Seconds(0.1);
    EXPECT_EQ(next->GetStatus(), Status::Playing);
    EXPECT_EQ(playing->GetStatus(), Status::Stopped);
    EXPECT_NEAR(playing->GetSeek(), 3 * kQuarter, kBlockSlack);
    EXPECT_NEAR(next->GetSeek(), 8 * kQuarter + kQuarter / 10, 2 * kBlockSlack);

    // Without the beat flag the change is immediate.
    auto now = performance.PlaySegmentEx(*first, 0);
    EXPECT_EQ(now->GetStatus(), Status::Playing);
    EXPECT_EQ(next->GetStatus(), Status::Stopped);
}

TEST_F(PerformanceTest, TheEndHoldsTheLengthAndStopUnloadEndTheSoundAtOnce) {
    auto segment = Downloaded(testing::Song(1, 96, 2));
    auto state = performance.PlaySegmentEx(*segment, kPlayOnBeat);
    Seconds(1.5);
    EXPECT_EQ(state->GetStatus(), Status::Ended);
    EXPECT_EQ(state->GetSeek(), segment->Length());
    EXPECT_EQ(segment->Length(), 2 * kQuarter);

    auto longer = Downloaded(testing::Song(0, 480, 32));
    state = performance.PlaySegmentEx(*longer, kPlayOnBeat);
    EXPECT_GT(Seconds(0.3), 0.0f);
    performance.Stop();
    EXPECT_EQ(state->GetStatus(), Status::Stopped);
    const int64_t stoppedAt = state->GetSeek();
    performance.Render(kBlock);
    EXPECT_EQ(Seconds(0.01), 0.0f) << "silent within one block of the stop";
    Seconds(0.5);
    EXPECT_EQ(state->GetSeek(), stoppedAt);

    state = performance.PlaySegmentEx(*longer, kPlayOnBeat);
    EXPECT_GT(Seconds(0.3), 0.0f);
    longer->Unload(performance);
    EXPECT_EQ(state->GetStatus(), Status::Stopped);
    performance.Render(kBlock);
    EXPECT_EQ(Seconds(0.01), 0.0f);
    EXPECT_FALSE(performance.PlaySegmentEx(*longer, kPlayOnBeat)) << "unloaded";

    // After CloseDown nothing plays and the last state stays readable.
    ASSERT_TRUE(longer->Download(performance));
    state = performance.PlaySegmentEx(*longer, kPlayOnBeat);
    Seconds(0.1);
    performance.CloseDown();
    EXPECT_EQ(state->GetStatus(), Status::Stopped);
    EXPECT_FALSE(performance.PlaySegmentEx(*longer, kPlayOnBeat));
    EXPECT_EQ(Seconds(0.1), 0.0f);
    performance.CloseDown(); // twice is harmless
}

TEST(Performance, WithoutASoundFontItHasNoInstrumentsAndPlaysNothing) {
    const testing::TempFile notASoundFont("not-a-soundfont.sf2", testing::Song(0, 96, 1));
    Performance performance;
    AudioSettings settings;
    settings.output = AudioOutput::Manual;
    settings.soundFonts = {"/nonexistent/default-GM.sf2", notASoundFont.Path()};
    EXPECT_FALSE(performance.InitAudio(settings));
    EXPECT_FALSE(performance.HasInstruments());
    auto segment = MakeSegment(testing::Song(0, 96, 4));
    EXPECT_FALSE(segment->Download(performance));
    EXPECT_FALSE(performance.PlaySegmentEx(*segment, kPlayOnBeat));
    EXPECT_EQ(performance.Render(4410), 0.0f);
}

} // namespace
} // namespace qrv::midi
