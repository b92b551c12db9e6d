// The performance: a General MIDI synthesizer and where its sound goes, shaped as
// DirectMusic's performance. It plays one primary segment at a time.
//
// Sound goes to the desktop's audio (PulseAudio, which PipeWire also serves, else
// ALSA). Where there is none, a thread of the performance renders the music
// silently in real time, so that positions advance as if it were heard. Tests may
// ask for manual output instead and advance the music with Render.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/segment.h"

namespace qrv::midi {

enum class AudioOutput {
    Auto,   // the desktop's audio, else silent
    Silent, // silent, in real time, even where audio exists
    Manual, // no output and no thread: the music advances only through Render
};

struct AudioSettings {
    AudioOutput output = AudioOutput::Auto;
    // SoundFonts tried in order; the first that loads gives the instruments.
    std::vector<std::string> soundFonts;
    int32_t sampleRate = 44100;
};

// Where Debian puts the default General MIDI SoundFont, and its usual neighbours.
std::vector<std::string> DefaultSoundFonts();

// PlaySegmentEx flags.
inline constexpr uint32_t kPlayOnBeat = 0x1000; // start on the next beat of the music playing

class Performance {
public:
    Performance();
    ~Performance(); // closes down
    Performance(const Performance &) = delete;
    Performance &operator=(const Performance &) = delete;

    // Creates the synthesizer, loads the SoundFont and opens the output. False when
    // no synthesizer could be made or no SoundFont loaded; the performance then
    // plays nothing.
    bool InitAudio(const AudioSettings &settings);
    bool HasInstruments() const;
    // "pulseaudio", "alsa", "silent", "manual"; empty before InitAudio succeeds.
    std::string OutputName() const;
    int32_t SampleRate() const;

    // Plays a downloaded segment from its start point as the primary segment, in
    // place of the one playing. With kPlayOnBeat the change waits for the next beat
    // of the music playing; otherwise, or when nothing plays, it starts at once.
    // Null when the segment cannot be played here.
    std::shared_ptr<SegmentState> PlaySegmentEx(const Segment &segment, uint32_t flags);

    // Scales the speed of all music, now and later. Values outside 0.01 to 100
    // are held to that range; zero, negative and NaN values are ignored.
    void SetMasterTempo(float tempo);
    float MasterTempo() const;

    // Stops all music; the sound ends at once.
    void Stop();
    // Stops every instance of the segment; the sound ends at once.
    void Unload(const Segment &segment);
    // Stops all music, closes the output (its thread is joined) and frees the
    // synthesizer. The performance plays nothing afterwards. May run twice.
    void CloseDown();

    // Manual output only: renders frames of music, advancing it. Gives the largest
    // magnitude of the samples rendered, 0 for silence.
    float Render(int32_t frames);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace qrv::midi
