// The five MIDI exports. Nothing is thrown across them.
#include <new>

#include "midi/midi_player.h"
#include "qrv.h"

using qrv::midi::MidiPlayer;

namespace {

MidiPlayer *FromHandle(MidiHandle handle) { return reinterpret_cast<MidiPlayer *>(handle); }

} // namespace

extern "C" MidiHandle _QRVMidiInit(HWND /*window: the sound needs no window*/,
                                   const char *midiFile) {
    try {
        qrv::midi::AudioSettings settings;
        settings.soundFonts = qrv::midi::DefaultSoundFonts();
        auto *player = new (std::nothrow) MidiPlayer(midiFile ? midiFile : "", settings);
        return reinterpret_cast<MidiHandle>(player);
    } catch (...) {
        return 0;
    }
}

extern "C" void _QRVMidiPlay(MidiHandle player, int32_t start) {
    if (!player) return;
    try {
        FromHandle(player)->Play(start);
    } catch (...) {
    }
}

extern "C" int32_t _QRVMidiGetPos(MidiHandle player) {
    if (!player) return 0;
    try {
        return FromHandle(player)->GetPos();
    } catch (...) {
        return 0;
    }
}

extern "C" void _QRVMidiTempoChange(MidiHandle player, float tempo) {
    if (!player) return;
    try {
        FromHandle(player)->TempoChange(tempo);
    } catch (...) {
    }
}

extern "C" void _QRVMidiTerm(MidiHandle player) {
    if (!player) return;
    try {
        delete FromHandle(player);
    } catch (...) {
    }
}
