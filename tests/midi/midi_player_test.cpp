// The MidiPlayer and its five exports.
#include "midi/midi_player.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

#include "midi/com.h"
#include "midi/music_time.h"
#include "qrv.h"
#include "smf_writer.h"

namespace qrv::midi {
namespace {

using Clock = std::chrono::steady_clock;

AudioSettings Settings(AudioOutput output) {
    AudioSettings settings;
    settings.output = output;
    settings.soundFonts = DefaultSoundFonts();
    return settings;
}

long ThreadCount() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/task"),
                         std::filesystem::directory_iterator());
}

TEST(MidiExports, NullPlayersDoNothing) {
    _QRVMidiPlay(0, 0);
    _QRVMidiPlay(0, -1);
    _QRVMidiTempoChange(0, 2.0f);
    EXPECT_EQ(_QRVMidiGetPos(0), 0);
    _QRVMidiTerm(0);
}

TEST(MidiExports, FilesThatAreNotMusicGiveAPlayerThatPlaysNothing) {
    const testing::TempFile text("notes.mid", {'M', 'T', 'h', 'd', ' ', 'n', 'o', 't', '\n'});
    const testing::TempFile empty("empty.mid", {});
    const testing::TempFile format2("format2.mid", [] {
        testing::Bytes b = testing::Song(0, 96, 4);
        b[9] = 2;
        return b;
    }());
    const std::string paths[] = {text.Path(), empty.Path(), format2.Path(), ::testing::TempDir()};
    const char *names[] = {"/nonexistent/song.mid", paths[0].c_str(), paths[1].c_str(),
                           paths[2].c_str(), paths[3].c_str(), "", nullptr};
    const int32_t initialised = CoInitializeCount();
    for (const char *name : names) {
        SCOPED_TRACE(name ? name : "(null)");
        const MidiHandle player = _QRVMidiInit(nullptr, name);
        ASSERT_NE(player, 0);
        _QRVMidiPlay(player, 0);
        _QRVMidiPlay(player, 4);
        _QRVMidiTempoChange(player, 2.0f);
        EXPECT_EQ(_QRVMidiGetPos(player), 0);
        EXPECT_FALSE(reinterpret_cast<MidiPlayer *>(player)->Loaded());
        _QRVMidiTerm(player);
    }
    EXPECT_EQ(CoInitializeCount(), initialised);
}

TEST(MidiExports, TwoPlayersLeaveTheInitialisationCountBalanced) {
    const testing::TempFile song("song.mid", testing::Song(1, 480, 8));
    const int32_t initialised = CoInitializeCount();
    const MidiHandle first = _QRVMidiInit(nullptr, song.Path().c_str());
    const MidiHandle second = _QRVMidiInit(nullptr, song.Path().c_str());
    EXPECT_EQ(CoInitializeCount(), initialised + 2);
    _QRVMidiTerm(first);
    EXPECT_EQ(CoInitializeCount(), initialised + 1);
    _QRVMidiTerm(second);
    EXPECT_EQ(CoInitializeCount(), initialised);
}

TEST(MidiExports, PositionAdvancesInRealTimeWhateverTheOutput) {
    // Heard where there is audio, silent in real time where there is none.
    const testing::TempFile song("song.mid", testing::Song(0, 96, 16));
    const MidiHandle player = _QRVMidiInit(nullptr, song.Path().c_str());
    ASSERT_TRUE(reinterpret_cast<MidiPlayer *>(player)->Loaded());
    EXPECT_EQ(_QRVMidiGetPos(player), 0) << "before the first Play";
    const Clock::time_point begin = Clock::now();
    _QRVMidiPlay(player, 0);
    while (_QRVMidiGetPos(player) < 1 && Clock::now() - begin < std::chrono::seconds(10)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const auto elapsed = Clock::now() - begin;
    _QRVMidiTerm(player);
    // One quarter note at 120 beats a minute is half a second. The output may
    // catch up after a stall of the machine, but never runs far ahead.
    EXPECT_GE(elapsed, std::chrono::milliseconds(250));
    EXPECT_LT(elapsed, std::chrono::seconds(10));
}

TEST(MidiPlayer, WithoutASoundFontPlayNothingAndPositionIsZero) {
    const testing::TempFile song("song.mid", testing::Song(0, 96, 8));
    AudioSettings settings = Settings(AudioOutput::Manual);
    settings.soundFonts = {"/nonexistent/default-GM.sf2"};
    const int32_t initialised = CoInitializeCount();
    {
        MidiPlayer player(song.Path(), settings);
        EXPECT_FALSE(player.Loaded());
        EXPECT_EQ(player.GetPerformance(), nullptr);
        player.Play(2);
        player.TempoChange(2.0f);
        EXPECT_EQ(player.GetPos(), 0);
    }
    EXPECT_EQ(CoInitializeCount(), initialised);
}

class ManualPlayer : public ::testing::Test {
protected:
    void Seconds(double seconds) {
        Performance *performance = player.GetPerformance();
        performance->Render(static_cast<int32_t>(seconds * performance->SampleRate()));
    }
    testing::TempFile song{"song16.mid", testing::Song(1, 480, 16)};
    MidiPlayer player{song.Path(), Settings(AudioOutput::Manual)};
};

TEST_F(ManualPlayer, StartsInWholeQuarterNotesAndKeepsTheLastStartPoint) {
    ASSERT_TRUE(player.Loaded());
    EXPECT_EQ(player.GetPos(), 0);

    player.Play(8);
    EXPECT_EQ(player.GetSegmentState()->GetSeek(), 6144);
    EXPECT_EQ(player.GetPos(), 8);
    Seconds(0.6);
    EXPECT_EQ(player.GetPos(), 9);

    // Playing again (at quarter 9.2) waits for the next beat, 0.4 s away, and
    // starts from the same start point.
    player.Play(-1);
    EXPECT_EQ(player.GetPos(), 8);
    Seconds(0.3);
    EXPECT_EQ(player.GetSegmentState()->GetStatus(), SegmentState::Status::Waiting);
    Seconds(0.2);
    EXPECT_EQ(player.GetSegmentState()->GetStatus(), SegmentState::Status::Playing);
    EXPECT_EQ(player.GetPos(), 8);
    Seconds(0.5);
    EXPECT_EQ(player.GetPos(), 9);

    player.Play(0);
    EXPECT_EQ(player.GetPos(), 0);
    Seconds(1.1);
    EXPECT_EQ(player.GetPos(), 1) << "the change waited for the beat, then two quarter notes a second";

    // Past the end, the start point stays where it was; no overflow on the way.
    player.Play(17);
    EXPECT_EQ(player.GetPos(), 0);
    player.Play(INT32_MAX);
    EXPECT_EQ(player.GetPos(), 0);
    player.Play(16); // the very end: it ends as soon as it starts, on the next beat
    Seconds(0.5);
    EXPECT_EQ(player.GetPos(), 16);
    EXPECT_EQ(player.GetSegmentState()->GetStatus(), SegmentState::Status::Ended);
}

TEST_F(ManualPlayer, TempoChangeScalesTheSpeedAndIgnoresNonPositiveValues) {
    player.TempoChange(2.0f);
    for (float ignored : {0.0f, -1.0f, std::nanf("")}) player.TempoChange(ignored);
    EXPECT_EQ(player.GetPerformance()->MasterTempo(), 2.0f);
    player.Play(0);
    Seconds(1.01);
    EXPECT_EQ(player.GetPos(), 4);
}

TEST(MidiPlayerRealTime, SilentOutputKeepsTimeAndTempoTwoDoublesIt) {
    const testing::TempFile song("song.mid", testing::Song(0, 480, 64));
    {
        // The first SoundFont loaded in a process starts one thread of the
        // synthesizer library's own that lives as long as the process.
        Performance warmUp;
        ASSERT_TRUE(warmUp.InitAudio(Settings(AudioOutput::Manual)));
    }
    const long threadsBefore = ThreadCount();
    auto player = std::make_unique<MidiPlayer>(song.Path(), Settings(AudioOutput::Silent));
    ASSERT_TRUE(player->Loaded());
    EXPECT_EQ(player->GetPerformance()->OutputName(), "silent");
    EXPECT_GT(ThreadCount(), threadsBefore) << "the pacing thread runs";

    // Music time per second over a window, measured on the steady clock.
    auto rate = [&](std::chrono::milliseconds window) {
        const Clock::time_point t0 = Clock::now();
        const int64_t p0 = player->GetSegmentState()->GetSeek();
        std::this_thread::sleep_for(window);
        const int64_t p1 = player->GetSegmentState()->GetSeek();
        const std::chrono::duration<double> elapsed = Clock::now() - t0;
        return static_cast<double>(p1 - p0) / elapsed.count();
    };
    player->Play(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double normal = rate(std::chrono::milliseconds(700));
    // 120 beats a minute: two quarter notes a second. The bounds leave room for a
    // loaded machine, where the output may stall and then catch up.
    EXPECT_GT(normal, 2 * 768 * 0.6);
    EXPECT_LT(normal, 2 * 768 * 1.4);

    player->TempoChange(2.0f);
    player->TempoChange(0.0f);
    player->TempoChange(-1.0f);
    player->TempoChange(std::nanf(""));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double fast = rate(std::chrono::milliseconds(700));
    EXPECT_GT(fast / normal, 1.4);
    EXPECT_LT(fast / normal, 2.8);

    player.reset();
    EXPECT_EQ(ThreadCount(), threadsBefore) << "every thread joined";
}

} // namespace
} // namespace qrv::midi
