// qrv-render's command line: one table of options, from which both the parser
// and --help are made.
#pragma once

#include <string>
#include <vector>

namespace qrv::render {

enum class Series { None, Turntable, PopUp };

struct Settings {
    std::string photo;
    std::string output = "relief.png";
    std::string depth;    // empty: the photo's companion
    bool noDepth = false; // draw the photo flat
    int width = 512;
    int height = 512;
    int eyeSteps[3] = {0, 0, 0}; // steps of 0.1 along x, y and z
    bool tear = false;
    int tearLevel = 0;
    int popupPercent = 100;
    bool wire = false;
    bool turn = false;
    int turnAtMs = 0;
    Series series = Series::None;
    int turntableFrames = 0;
    bool help = false;
    std::string model;      // a q3d model drawn instead of a depth image (q3d_options.h)
    std::string writeModel; // where the depth image's q3d model is written, if anywhere
};

// Parses argv. On a bad command line returns false with a one-line message in
// error (without the program's name).
bool ParseCommandLine(int argc, const char *const *argv, Settings &settings, std::string &error);

// The --help text.
std::string HelpText();

// Where frame i (1-based) of a series of count frames is written: the output's
// name with "-i" before its extension ("relief.png" -> "relief-3.png"). A single
// frame goes to the output itself.
std::string FramePath(const std::string &output, int index, int count);

// The depth image Tovelle finds beside a photo: the photo's path with its last
// four characters replaced by "_.bmp". Empty when the path is too short.
std::string CompanionDepthPath(const std::string &photo);

} // namespace qrv::render
