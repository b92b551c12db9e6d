// The performance on FluidSynth.
//
// All synthesizer and player calls are made under one mutex: the output (the audio
// driver's thread, the silent pacing thread or a Render call) renders in blocks of
// 64 frames, each under the lock, and between blocks starts a segment waiting for
// its beat and publishes the playing position to its segment state.
#include "midi/performance.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fluidsynth.h>
#include <mutex>
#include <optional>
#include <stop_token>
#include <sys/stat.h>
#include <thread>

#include "midi/music_time.h"

namespace qrv::midi {
namespace {

// FluidSynth reports through log functions; a failed audio driver or SoundFont
// is an expected outcome here, not something to print.
void QuietLog(int, const char *, void *) {}

void SilenceFluidSynth() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (int level = FLUID_PANIC; level < LAST_LOG_LEVEL; ++level) {
            fluid_set_log_function(level, QuietLog, nullptr);
        }
    });
}

struct SettingsDeleter {
    void operator()(fluid_settings_t *p) const { delete_fluid_settings(p); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t *p) const { delete_fluid_synth(p); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t *p) const { delete_fluid_player(p); }
};
struct DriverDeleter {
    void operator()(fluid_audio_driver_t *p) const { delete_fluid_audio_driver(p); }
};
using SettingsPtr = std::unique_ptr<fluid_settings_t, SettingsDeleter>;
using SynthPtr = std::unique_ptr<fluid_synth_t, SynthDeleter>;
using PlayerPtr = std::unique_ptr<fluid_player_t, PlayerDeleter>;
using DriverPtr = std::unique_ptr<fluid_audio_driver_t, DriverDeleter>;

constexpr int kBlockFrames = 64;  // FluidSynth's own block; the player steps once per block
constexpr int kSeekAttempts = 4;   // blocks in which a starting player may refuse its seek
constexpr float kMinTempo = 0.01f; // the master tempo's range
constexpr float kMaxTempo = 100.0f;

bool Exists(const char *path) {
    struct stat info {};
    return stat(path, &info) == 0;
}

// Passes a player's events to the synthesizer. While a player starting past the
// beginning takes its first block (before it can seek), note-ons are held back so
// that nothing from the beginning sounds; controllers and programs pass.
struct Gate {
    fluid_synth_t *synth = nullptr;
    bool holdNotes = false;

    static int Handle(void *data, fluid_midi_event_t *event) {
        auto *gate = static_cast<Gate *>(data);
        if (gate->holdNotes && fluid_midi_event_get_type(event) == 0x90) return FLUID_OK;
        return fluid_synth_handle_midi_event(gate->synth, event);
    }
};

// A segment instance on the synthesizer: a FluidSynth player with the segment's
// bytes, and the state the caller reads.
struct Track {
    std::shared_ptr<SegmentState> state;
    std::shared_ptr<const std::vector<uint8_t>> bytes; // the segment's; identifies it
    std::unique_ptr<Gate> gate; // outlives the player, which calls it
    PlayerPtr player;
    bool seekPending = false; // the player seeks once it has loaded the file
    int seekAttempts = 0;
    int32_t division = 0;
    int64_t length = 0;    // music time
    int64_t lengthTicks = 0;
    int32_t startTick = 0; // where the player seeks when it starts
    int32_t beatTick = 0;  // waiting: the tick of the playing track at which it starts
};

} // namespace

std::vector<std::string> DefaultSoundFonts() {
    return {"/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf3/default-GM.sf3",
            "/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2"};
}

struct Performance::Impl {
    mutable std::mutex mutex;
    SettingsPtr settings;
    SynthPtr synth;
    DriverPtr driver;
    std::jthread pacer;
    std::condition_variable_any pacerWake;
    std::string outputName;
    int32_t sampleRate = 0;
    bool manual = false;
    bool instruments = false;
    float tempo = 1.0f;
    std::optional<Track> playing;
    std::optional<Track> waiting;
    std::vector<float> left, right; // scratch for silent and manual rendering

    static int DriverCallback(void *data, int len, int, float *[], int nout, float *out[]) {
        auto *self = static_cast<Impl *>(data);
        if (nout < 2 || len <= 0) return FLUID_OK;
        std::lock_guard lock(self->mutex);
        self->RenderLocked(out[0], out[1], len);
        return FLUID_OK;
    }

    void RenderLocked(float *l, float *r, int frames) {
        while (frames > 0 && synth) {
            const int n = std::min(frames, kBlockFrames);
            StartWaitingLocked();
            fluid_synth_write_float(synth.get(), n, l, 0, 1, r, 0, 1);
            SeekLocked();
            PublishLocked();
            l += n;
            r += n;
            frames -= n;
        }
    }

    // Renders into the scratch buffers; gives the peak magnitude.
    float RenderScratchLocked(int frames) {
        float peak = 0.0f;
        while (frames > 0) {
            const int n = std::min<int>(frames, static_cast<int>(left.size()));
            RenderLocked(left.data(), right.data(), n);
            for (int i = 0; i < n; ++i) {
                peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
            }
            frames -= n;
        }
        return peak;
    }

    // The silent output: renders as many frames as the time passed since it began
    // asks for. After a stall of the machine it catches up by at most half a
    // second and gives up the rest, so that positions keep to the clock without
    // racing through a long stretch of music at once.
    void Pace(std::stop_token stop) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point begin = Clock::now();
        const int64_t maxBacklog = sampleRate / 2;
        int64_t rendered = 0;
        std::mutex waitMutex;
        std::unique_lock waitLock(waitMutex);
        while (!stop.stop_requested()) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - begin);
            const int64_t due = elapsed.count() * sampleRate / 1000000;
            if (due - rendered > maxBacklog) rendered = due - maxBacklog;
            while (rendered < due && !stop.stop_requested()) {
                const int n = static_cast<int>(std::min<int64_t>(due - rendered, 1024));
                {
                    std::lock_guard lock(mutex);
                    RenderScratchLocked(n);
                }
                rendered += n;
            }
            pacerWake.wait_for(waitLock, stop, std::chrono::milliseconds(5), [] { return false; });
        }
    }

    // True while a segment plays; one that has ended may still be fading out.
    bool MusicPlayingLocked() const {
        return playing && playing->state->GetStatus() == SegmentState::Status::Playing;
    }

    // The player loads its file in its first block and can seek only then; the
    // seek takes effect in the next block. Should the player refuse the seek for
    // a few blocks, it plays on from where it is rather than stay mute.
    void SeekLocked() {
        if (!playing || !playing->seekPending) return;
        fluid_player_t *player = playing->player.get();
        const bool taken = fluid_player_seek(player, playing->startTick) == FLUID_OK;
        if (!taken && fluid_player_get_status(player) == FLUID_PLAYER_PLAYING &&
            ++playing->seekAttempts < kSeekAttempts) {
            return;
        }
        if (!taken) playing->startTick = 0;
        playing->seekPending = false;
        playing->gate->holdNotes = false;
    }

    // Publishes the playing track's position. The segment has ended when the player
    // passes its last event; the player itself runs on while the last notes fade
    // and is let go when it says it is done.
    void PublishLocked() {
        if (!playing) return;
        fluid_player_t *player = playing->player.get();
        SegmentState &state = *playing->state;
        const bool done = fluid_player_get_status(player) == FLUID_PLAYER_DONE;
        const int tick = fluid_player_get_current_tick(player);
        if (done || (!playing->seekPending && tick >= playing->lengthTicks)) {
            state.seek_.store(playing->length, std::memory_order_relaxed);
            state.status_.store(SegmentState::Status::Ended, std::memory_order_relaxed);
        } else if (!playing->seekPending && tick >= playing->startTick) {
            // (Until the player has taken its seek it reports the beginning.)
            state.seek_.store(TicksToMusicTime(tick, playing->division), std::memory_order_relaxed);
        }
        if (done) playing.reset();
    }

    // Starts the waiting track once the playing one reaches the waiting track's beat.
    void StartWaitingLocked() {
        if (!waiting) return;
        if (MusicPlayingLocked() &&
            fluid_player_get_current_tick(playing->player.get()) < waiting->beatTick) {
            return;
        }
        Track track = std::move(*waiting);
        waiting.reset();
        StartLocked(std::move(track));
    }

    void StartLocked(Track track) {
        EndLocked(playing, false);
        fluid_player_set_tempo(track.player.get(), FLUID_PLAYER_TEMPO_INTERNAL, tempo);
        track.seekPending = track.startTick > 0;
        track.gate->holdNotes = track.seekPending;
        fluid_player_play(track.player.get());
        track.state->status_.store(SegmentState::Status::Playing, std::memory_order_relaxed);
        playing = std::move(track);
    }

    // Ends a track and stops its state. When it is the one sounding, its notes are
    // released, or cut at once when abrupt.
    void EndLocked(std::optional<Track> &track, bool abrupt) {
        if (!track) return;
        const bool sounding = &track == &playing;
        fluid_player_stop(track->player.get());
        if (track->state->GetStatus() != SegmentState::Status::Ended) {
            track->state->status_.store(SegmentState::Status::Stopped, std::memory_order_relaxed);
        }
        track.reset();
        if (!sounding) return;
        if (abrupt) {
            fluid_synth_all_sounds_off(synth.get(), -1);
        } else {
            fluid_synth_all_notes_off(synth.get(), -1);
        }
    }

    bool OpenAudioDriver() {
        // JACK is left out on purpose: its client may start a server of its own.
        static const char *const kDrivers[] = {"pulseaudio", "alsa"};
        for (const char *name : kDrivers) {
            if (std::string_view(name) == "alsa" && !Exists("/dev/snd")) continue;
            fluid_settings_setstr(settings.get(), "audio.driver", name);
            driver.reset(new_fluid_audio_driver2(settings.get(), DriverCallback, this));
            if (driver) {
                outputName = name;
                return true;
            }
        }
        return false;
    }

    void StartPacer() {
        outputName = "silent";
        pacer = std::jthread([this](std::stop_token stop) { Pace(std::move(stop)); });
    }
};

Performance::Performance() : impl_(std::make_unique<Impl>()) {}

Performance::~Performance() { CloseDown(); }

bool Performance::InitAudio(const AudioSettings &config) {
    CloseDown();
    SilenceFluidSynth();
    Impl &d = *impl_;
    const bool heard = config.output == AudioOutput::Auto;
    d.settings.reset(new_fluid_settings());
    if (!d.settings) return false;
    fluid_settings_t *s = d.settings.get();
    fluid_settings_setnum(s, "synth.sample-rate", config.sampleRate);
    fluid_settings_setint(s, "synth.lock-memory", 0);
    fluid_settings_setstr(s, "player.timing-source", "sample");
    // Nobody hears silent output: leave out the effects and save the time.
    fluid_settings_setint(s, "synth.reverb.active", heard ? 1 : 0);
    fluid_settings_setint(s, "synth.chorus.active", heard ? 1 : 0);
    // The audio thread asks for 512 frames (12 ms) at a time: FluidSynth's 64 make
    // the sound server wake the thread too often. Rendering still steps in blocks
    // of 64 inside, so a segment waiting for its beat starts within 1.5 ms of it.
    fluid_settings_setint(s, "audio.period-size", 512);
    d.synth.reset(new_fluid_synth(s));
    if (!d.synth) {
        d.settings.reset();
        return false;
    }
    double rate = config.sampleRate;
    fluid_settings_getnum(s, "synth.sample-rate", &rate);
    d.sampleRate = static_cast<int32_t>(rate);

    for (const std::string &path : config.soundFonts) {
        if (fluid_is_soundfont(path.c_str()) &&
            fluid_synth_sfload(d.synth.get(), path.c_str(), 1) != FLUID_FAILED) {
            d.instruments = true;
            break;
        }
    }
    if (!d.instruments) {
        d.synth.reset();
        d.settings.reset();
        return false;
    }

    d.left.assign(1024, 0.0f);
    d.right.assign(1024, 0.0f);
    if (config.output == AudioOutput::Manual) {
        d.manual = true;
        d.outputName = "manual";
    } else if (!(heard && d.OpenAudioDriver())) {
        d.StartPacer();
    }
    return true;
}

bool Performance::HasInstruments() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->instruments;
}

std::string Performance::OutputName() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->outputName;
}

int32_t Performance::SampleRate() const { return impl_->sampleRate; }

std::shared_ptr<SegmentState> Performance::PlaySegmentEx(const Segment &segment, uint32_t flags) {
    Impl &d = *impl_;
    std::lock_guard lock(d.mutex);
    if (!d.synth || !d.instruments || !segment.Downloaded()) return nullptr;

    Track track;
    track.gate = std::make_unique<Gate>();
    track.gate->synth = d.synth.get();
    track.player.reset(new_fluid_player(d.synth.get()));
    if (!track.player) return nullptr;
    fluid_player_set_playback_callback(track.player.get(), Gate::Handle, track.gate.get());
    const std::span<const uint8_t> bytes = segment.Bytes();
    if (fluid_player_add_mem(track.player.get(), bytes.data(), bytes.size()) != FLUID_OK) {
        return nullptr;
    }
    track.bytes = segment.SharedBytes();
    track.division = segment.Division();
    track.length = segment.Length();
    track.lengthTicks = segment.LengthTicks();
    track.startTick = static_cast<int32_t>(MusicTimeToTicks(segment.StartPoint(), track.division));
    track.state = std::make_shared<SegmentState>(segment.StartPoint());

    // A segment waiting from an earlier Play is replaced by this one.
    d.EndLocked(d.waiting, false);
    const bool onBeat = (flags & kPlayOnBeat) != 0;
    if (onBeat && d.MusicPlayingLocked()) {
        const int64_t tick = fluid_player_get_current_tick(d.playing->player.get());
        const int64_t division = d.playing->division;
        const int64_t beat = (tick + division - 1) / division * division;
        track.beatTick = static_cast<int32_t>(std::min<int64_t>(beat, INT32_MAX));
        d.waiting = std::move(track);
        return d.waiting->state;
    }
    std::shared_ptr<SegmentState> state = track.state;
    d.StartLocked(std::move(track));
    return state;
}

void Performance::SetMasterTempo(float tempo) {
    if (!(tempo > 0.0f)) return; // zero, negative, NaN
    tempo = std::clamp(tempo, kMinTempo, kMaxTempo);
    Impl &d = *impl_;
    std::lock_guard lock(d.mutex);
    d.tempo = tempo;
    for (std::optional<Track> *track : {&d.playing, &d.waiting}) {
        if (*track) {
            fluid_player_set_tempo((*track)->player.get(), FLUID_PLAYER_TEMPO_INTERNAL, tempo);
        }
    }
}

float Performance::MasterTempo() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->tempo;
}

void Performance::Stop() {
    Impl &d = *impl_;
    std::lock_guard lock(d.mutex);
    if (!d.synth) return;
    d.EndLocked(d.waiting, true);
    d.EndLocked(d.playing, true);
    fluid_synth_all_sounds_off(d.synth.get(), -1);
}

void Performance::Unload(const Segment &segment) {
    Impl &d = *impl_;
    std::lock_guard lock(d.mutex);
    if (!d.synth) return;
    for (std::optional<Track> *track : {&d.waiting, &d.playing}) {
        if (*track && (*track)->bytes.get() == segment.Identity()) d.EndLocked(*track, true);
    }
}

void Performance::CloseDown() {
    Impl &d = *impl_;
    // The output goes first, without the lock: its thread may be waiting for it.
    d.driver.reset();
    if (d.pacer.joinable()) {
        d.pacer.request_stop();
        d.pacer.join();
    }
    std::lock_guard lock(d.mutex);
    if (d.synth) {
        d.EndLocked(d.waiting, true);
        d.EndLocked(d.playing, true);
    }
    d.synth.reset();
    d.settings.reset();
    d.instruments = false;
    d.manual = false;
    d.outputName.clear();
}

float Performance::Render(int32_t frames) {
    Impl &d = *impl_;
    std::lock_guard lock(d.mutex);
    if (!d.manual || !d.synth || frames <= 0) return 0.0f;
    return d.RenderScratchLocked(frames);
}

} // namespace qrv::midi
