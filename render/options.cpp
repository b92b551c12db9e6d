#include "options.h"

#include "option_table.h"
#include "q3d_options.h"

namespace qrv::render {

namespace {

using ViewOption = Option<Settings>;

const std::vector<ViewOption> &Options() {
    static const std::vector<ViewOption> options = {
        {'o', "output", "FILE",
         "PNG file to write (default relief.png). A series of frames goes to FILE with "
         "\"-1\", \"-2\", ... before its extension.",
         [](Settings &s, const std::string &v) {
             if (v.empty()) return std::string("--output needs a file name");
             s.output = v;
             return std::string();
         }},
        {'d', "depth", "FILE",
         "The depth image, an 8-bit BMP whose bright pixels come near. Default: the photo's "
         "companion, its name with the last four characters replaced by \"_.bmp\" "
         "(garden.jpg: garden_.bmp), as Tovelle finds it; without one the photo is drawn flat.",
         [](Settings &s, const std::string &v) {
             if (v.empty()) return std::string("--depth needs a file name");
             s.depth = v;
             return std::string();
         }},
        {'n', "no-depth", nullptr, "Draw the photo flat, without a depth image.",
         [](Settings &s, const std::string &) {
             s.noDepth = true;
             return std::string();
         }},
        {'s', "size", "WxH",
         "Frame size in pixels, each 1 to 8192 (default 512x512). The relief is drawn for a "
         "square window, so other shapes stretch it, as resizing Tovelle's window does.",
         [](Settings &s, const std::string &v) { return ParseFrameSize(v, s.width, s.height); }},
        {'e', "eye", "X,Y,Z",
         "Moves the eye by steps of 0.1, as Tovelle's keys do: X sideways and Y up or down "
         "over the eye's sphere, Z nearer (positive) or farther (negative), each -100 to 100. "
         "Steps past the eye's limits are left out. Like Tovelle, opening the photo first "
         "moves the eye 0.8 farther away.",
         [](Settings &s, const std::string &v) { return ParseEyeSteps(v, s.eyeSteps); }},
        {'t', "tear", "LEVEL",
         "Tears the relief apart wherever two neighbouring depths differ by more than LEVEL "
         "(0 to 255; 255 never tears). Default: never torn, as in Tovelle.",
         [](Settings &s, const std::string &v) {
             if (!ParseInt(v, 0, 255, s.tearLevel))
                 return "bad tear level '" + v + "' (expected 0 to 255)";
             s.tear = true;
             return std::string();
         }},
        {'p', "popup", "PERCENT",
         "How far the relief rises out of the page, 0 (flat) to 100 (full depth, the default).",
         [](Settings &s, const std::string &v) {
             if (!ParseInt(v, 0, 100, s.popupPercent))
                 return "bad pop-up percent '" + v + "' (expected 0 to 100)";
             return std::string();
         }},
        {'w', "wire", nullptr, "Draws the wire frame instead of the photo-textured surface.",
         [](Settings &s, const std::string &) {
             s.wire = true;
             return std::string();
         }},
        {'r', "turn-at", "MS",
         "Draws the relief turning about its horizontal axis (one radian a second) as it "
         "stands MS milliseconds into a turn (0 to 6283). Waits for the library's clock to "
         "come round to that point: up to one turn, about 6.3 seconds.",
         [](Settings &s, const std::string &v) {
             if (!ParseInt(v, 0, 6283, s.turnAtMs))
                 return "bad turning time '" + v + "' (expected 0 to 6283 milliseconds)";
             s.turn = true;
             return std::string();
         }},
        {0, "turntable", "N",
         "Writes N frames (2 to 360) of one whole turn of the relief, evenly spaced. Takes "
         "about one turn of the clock, 6.3 seconds, or longer when frames are slow.",
         [](Settings &s, const std::string &v) {
             if (!ParseInt(v, 2, 360, s.turntableFrames))
                 return "bad number of frames '" + v + "' (expected 2 to 360)";
             s.series = Series::Turntable;
             return std::string();
         }},
        {0, "popup-series", nullptr,
         "Writes the six frames of Tovelle's pop-up picture book animation: the relief rebuilt "
         "at 2, 6, 14, 30, 62 and 100 percent of its depth.",
         [](Settings &s, const std::string &) {
             s.series = Series::PopUp;
             return std::string();
         }},
        {'m', "model", "FILE", kModelOptionHelp,
         [](Settings &s, const std::string &v) {
             if (ModelPhotoFor(v).empty()) return std::string("--model needs a q3d file's name");
             s.model = v;
             return std::string();
         }},
        {0, "write-model", "FILE", kWriteModelOptionHelp,
         [](Settings &s, const std::string &v) {
             if (ModelFileFor(v).empty()) return std::string("--write-model needs a file name");
             s.writeModel = v;
             return std::string();
         }},
        {'h', "help", nullptr, "Shows this help and exits.",
         [](Settings &s, const std::string &) {
             s.help = true;
             return std::string();
         }},
    };
    return options;
}

} // namespace

std::string HelpText() {
    std::string text =
        "Usage: qrv-render PHOTO [options]\n"
        "\n"
        "Draws a photo (BMP or JPEG) as a relief shaped by its depth image, through\n"
        "libqrv.so as Tovelle draws it, and writes the frame as a PNG file.\n"
        "\n"
        "Options:\n";
    text += OptionsHelp(Options());
    text += "\n"
            "Exit status: 0 when every frame was written; 2 for a bad command line, a\n"
            "missing or unreadable photo or depth image; 1 when a frame could not be drawn\n"
            "or written.\n"
            "\n"
            "qrv-render --standalone --help: the library's StandaloneEngine road (shader\n"
            "files, a colour image, q3d models).\n";
    return text;
}

bool ParseCommandLine(int argc, const char *const *argv, Settings &settings, std::string &error) {
    settings = Settings{};
    if (!ParseOptions(argc, argv, 1, Options(), &Settings::photo, {"photo", "--help"}, settings,
                      error))
        return false;
    if (settings.help) return true;
    if (!settings.model.empty()) {
        // The library takes the photo from the model's name.
        if (!settings.photo.empty() || !settings.depth.empty() || settings.noDepth ||
            !settings.writeModel.empty()) {
            error = "--model draws the model with its own photo; it goes with no PHOTO, --depth, "
                    "--no-depth or --write-model";
            return false;
        }
        settings.photo = ModelPhotoFor(settings.model);
    }
    if (settings.photo.empty()) {
        error = "no photo given (usage: qrv-render PHOTO [options]; see --help)";
        return false;
    }
    if (settings.noDepth && !settings.depth.empty()) {
        error = "--depth and --no-depth exclude each other";
        return false;
    }
    if (settings.series != Series::None && settings.turn) {
        error = "--turn-at draws one frame; it does not go with a series";
        return false;
    }
    return true;
}

std::string FramePath(const std::string &output, int index, int count) {
    if (count <= 1) return output;
    const size_t slash = output.find_last_of('/');
    const size_t dot = output.find_last_of('.');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    // A leading dot starts a hidden file's name, not an extension.
    const bool hasExtension = dot != std::string::npos && dot > nameStart;
    const std::string tag = "-" + std::to_string(index);
    return hasExtension ? output.substr(0, dot) + tag + output.substr(dot) : output + tag;
}

std::string CompanionDepthPath(const std::string &photo) {
    if (photo.size() <= 4) return {};
    return photo.substr(0, photo.size() - 4) + "_.bmp";
}

} // namespace qrv::render
