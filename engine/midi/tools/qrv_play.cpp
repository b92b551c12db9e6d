// qrv-play: plays a Standard MIDI File through the library's MIDI exports.
//
//   qrv-play FILE.mid [--start QUARTERS] [--tempo FACTOR] [--seconds N]
//
// Prints the position in quarter notes while it plays and stops after N seconds
// (default: 30), or once the position has not moved for ten seconds.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "qrv.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: qrv-play FILE.mid [--start QUARTERS] [--tempo FACTOR] [--seconds N]\n");
    return 2;
}

bool ParseNumber(const char *text, double &out) {
    char *end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(out);
}

} // namespace

int main(int argc, char **argv) {
    const char *file = nullptr;
    double start = 0, tempo = 1, seconds = 30;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        double *value = arg == "--start" ? &start : arg == "--tempo" ? &tempo
                                               : arg == "--seconds" ? &seconds : nullptr;
        if (value) {
            if (i + 1 >= argc || !ParseNumber(argv[++i], *value)) return Usage();
        } else if (!file && arg.rfind("--", 0) != 0) {
            file = argv[i];
        } else {
            return Usage();
        }
    }
    if (!file || start < 0 || start > INT32_MAX || seconds < 0) return Usage();

    if (FILE *f = std::fopen(file, "rb")) {
        std::fclose(f);
    } else {
        std::fprintf(stderr, "qrv-play: cannot read %s\n", file);
        return 1;
    }

    const MidiHandle player = _QRVMidiInit(nullptr, file);
    if (!player) {
        std::fprintf(stderr, "qrv-play: out of memory\n");
        return 1;
    }
    if (tempo != 1) _QRVMidiTempoChange(player, static_cast<float>(tempo));
    _QRVMidiPlay(player, static_cast<int32_t>(start));

    using Clock = std::chrono::steady_clock;
    const Clock::time_point begin = Clock::now();
    Clock::time_point lastMove = begin;
    int32_t last = -1;
    bool moved = false;
    while (Clock::now() - begin < std::chrono::duration<double>(seconds)) {
        const int32_t pos = _QRVMidiGetPos(player);
        if (pos != last) {
            std::printf("\rquarter note %d ", pos);
            std::fflush(stdout);
            if (last >= 0) moved = true;
            last = pos;
            lastMove = Clock::now();
        }
        if (Clock::now() - lastMove > std::chrono::seconds(10)) break; // ended, or never began
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::printf("\n");
    _QRVMidiTerm(player);
    if (!moved) {
        std::fprintf(stderr, "qrv-play: nothing played (not a Standard MIDI File, or no "
                             "General MIDI SoundFont in /usr/share/sounds/sf2)\n");
        return 1;
    }
    return 0;
}
