// MidiPlayer.
#include "midi/midi_player.h"

#include "midi/com.h"
#include "midi/music_time.h"

namespace qrv::midi {

MidiPlayer::MidiPlayer(const std::string &fileName, const AudioSettings &settings) {
    CoInitialize();
    try {
        performance = std::make_unique<Performance>();
        if (!performance->InitAudio(settings)) performance.reset();
        loader = std::make_unique<Loader>();
        segment = loader->LoadObjectFromFile(fileName);
        // A segment nothing can sound is not kept, so Play does nothing.
        if (segment && !(performance && segment->Download(*performance))) segment.reset();
    } catch (...) {
        // Out of memory part way: what was made stays, the rest is left null.
        if (performance) performance->CloseDown();
        segment.reset();
    }
}

MidiPlayer::~MidiPlayer() {
    if (performance) performance->Stop();
    if (segment && performance) segment->Unload(*performance);
    segmentState.reset();
    segment.reset();
    loader.reset();
    if (performance) performance->CloseDown();
    performance.reset();
    CoUninitialize();
}

void MidiPlayer::Play(int32_t start) {
    if (!segment || !performance) return;
    // A start past the end of the music leaves the start point as it was.
    if (start >= 0) segment->SetStartPoint(QuartersToMusicTime(start));
    segmentState.reset();
    segmentState = performance->PlaySegmentEx(*segment, kPlayOnBeat);
}

int32_t MidiPlayer::GetPos() const {
    if (!segment || !segmentState) return 0;
    return MusicTimeToQuarters(segmentState->GetSeek());
}

void MidiPlayer::TempoChange(float tempo) {
    if (!(tempo > 0.0f) || !performance) return;
    performance->SetMasterTempo(tempo);
}

} // namespace qrv::midi
