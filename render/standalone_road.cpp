#include "standalone_road.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <vector>

#include "frame_host.h"
#include "option_table.h"
#include "options.h"
#include "q3d_road.h"
#include "qrv.h"

namespace qrv::render {

namespace {

constexpr int kTurnMs = 2000; // the StandaloneEngine turns once every 2000 ticks

struct RoadSettings {
    std::string depth; // the operand
    std::string model;
    std::string colour;
    std::string texture;
    std::string vertexShader;
    std::string pixelShader;
    std::string writeModel; // where the images' q3d model is written, if anywhere
    std::string output = "standalone.png";
    int width = 512;
    int height = 512;
    int eyeSteps[3] = {0, 0, 0};
    bool wire = false;
    bool flat = false;
    bool turn = false;
    int turnAtMs = 0;
    int frames = 0;
    bool help = false;
};

using RoadOption = Option<RoadSettings>;

std::function<std::string(RoadSettings &, const std::string &)> FileInto(std::string RoadSettings::*field,
                                                                        const char *what) {
    return [field, what](RoadSettings &s, const std::string &v) {
        if (v.empty()) return std::string(what) + " needs a file name";
        s.*field = v;
        return std::string();
    };
}

const std::vector<RoadOption> &RoadOptions() {
    static const std::vector<RoadOption> options = {
        {0, "colour", "FILE",
         "A 24-bit BMP whose pixels colour the mesh, stretched over it. Without one the mesh "
         "is white.",
         FileInto(&RoadSettings::colour, "--colour")},
        {0, "model", "FILE",
         "Reads a q3d model file instead of building the mesh from a depth image.",
         FileInto(&RoadSettings::model, "--model")},
        {0, "write-model", "FILE", kWriteModelOptionHelp,
         FileInto(&RoadSettings::writeModel, "--write-model")},
        {0, "texture", "PICTURE",
         "Textures the mesh with a picture (BMP, JPEG or PNG) through \"texture.ps\", the "
         "pixel shader beside this program. A mesh built from a depth image has no texture "
         "coordinates: it shows the picture's top-left pixel; a q3d mesh may carry them.",
         FileInto(&RoadSettings::texture, "--texture")},
        {0, "vertex-shader", "FILE",
         "The vertex shader, in Direct3D shader assembly (default: relief.vsh of the shader "
         "folder installed with this program).",
         FileInto(&RoadSettings::vertexShader, "--vertex-shader")},
        {0, "pixel-shader", "FILE",
         "The pixel shader (default: relief.psh of the same folder).",
         FileInto(&RoadSettings::pixelShader, "--pixel-shader")},
        {'o', "output", "FILE",
         "PNG file to write (default standalone.png). A series of frames goes to FILE with "
         "\"-1\", \"-2\", ... before its extension.",
         FileInto(&RoadSettings::output, "--output")},
        {'s', "size", "WxH", "Frame size in pixels, each 1 to 8192 (default 512x512).",
         [](RoadSettings &s, const std::string &v) { return ParseFrameSize(v, s.width, s.height); }},
        {'e', "eye", "X,Y,Z",
         "Moves the eye from its start (0, 3, -4) by steps of 0.1: X sideways and Y up or down "
         "over its sphere, Z nearer (positive) or farther (negative), each -100 to 100. Steps "
         "past the eye's limits are left out.",
         [](RoadSettings &s, const std::string &v) { return ParseEyeSteps(v, s.eyeSteps); }},
        {'w', "wire", nullptr, "Draws the wire frame.",
         [](RoadSettings &s, const std::string &) {
             s.wire = true;
             return std::string();
         }},
        {0, "flat", nullptr, "Flat shading: each triangle in one colour.",
         [](RoadSettings &s, const std::string &) {
             s.flat = true;
             return std::string();
         }},
        {0, "turn-at", "MS",
         "Draws the mesh turning about its vertical axis (one turn in 2 seconds) as it stands "
         "MS milliseconds into a turn (0 to 1999). Waits up to 2 seconds for the library's "
         "clock to come round to that point.",
         [](RoadSettings &s, const std::string &v) {
             if (!ParseInt(v, 0, kTurnMs - 1, s.turnAtMs))
                 return "bad turning time '" + v + "' (expected 0 to 1999 milliseconds)";
             s.turn = true;
             return std::string();
         }},
        {0, "turntable", "N", "Writes N frames (2 to 360) of one whole turn, evenly spaced.",
         [](RoadSettings &s, const std::string &v) {
             if (!ParseInt(v, 2, 360, s.frames))
                 return "bad number of frames '" + v + "' (expected 2 to 360)";
             return std::string();
         }},
        {'h', "help", nullptr, "Shows this help and exits.",
         [](RoadSettings &s, const std::string &) {
             s.help = true;
             return std::string();
         }},
    };
    return options;
}

bool Parse(int argc, const char *const *argv, RoadSettings &s, std::string &error) {
    if (!ParseOptions(argc, argv, 2, RoadOptions(), &RoadSettings::depth,
                      {"depth image", "--standalone --help"}, s, error))
        return false;
    if (s.help) return true;
    if (s.depth.empty() == s.model.empty()) {
        error = s.depth.empty() ? "no depth image or --model given (see --standalone --help)"
                                : "a depth image and --model exclude each other";
        return false;
    }
    if (!s.model.empty() && !s.writeModel.empty()) {
        error = "--write-model writes the model of a depth image, not of --model";
        return false;
    }
    if (!s.model.empty() && !s.colour.empty()) {
        error = "--colour goes with a depth image, not with --model";
        return false;
    }
    if (s.turn && s.frames) {
        error = "--turn-at draws one frame; it does not go with --turntable";
        return false;
    }
    return true;
}

// A BMP file's bytes after its 14-byte file header, in a movable block, as a
// host hands pictures to the library.
bool ReadPackedDib(const std::string &path, const char *what, GlobalBlock &block, std::string &error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::string("cannot read ") + what + " '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 14 + 40 || bytes[0] != 'B' || bytes[1] != 'M') {
        error = std::string(what) + " '" + path + "' is not a BMP file";
        return false;
    }
    const size_t size = bytes.size() - 14;
    block.Reset(GlobalAlloc(GMEM_MOVEABLE, size));
    void *data = block.get() ? GlobalLock(block.get()) : nullptr;
    if (!data) {
        error = std::string("no memory for ") + what + " '" + path + "'";
        return false;
    }
    std::memcpy(data, bytes.data() + 14, size);
    GlobalUnlock(block.get());
    return true;
}

bool Readable(const std::string &path) { return access(path.c_str(), R_OK) == 0; }

// The folder of this program, with its final '/'.
std::string ProgramFolder() {
    std::vector<char> path(4096);
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (n <= 0) return "./";
    const std::string exe(path.data(), static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

// A shader file of the folder installed with the program: the build tree's
// shaders/ beside render/, or share/tovelle/shaders beside bin/.
std::string DefaultShader(const char *name) {
    const std::string folder = ProgramFolder();
    for (const std::string &candidate :
         {folder + "../shaders/" + name, folder + "../share/tovelle/shaders/" + name,
          folder + name})
        if (Readable(candidate)) return candidate;
    return folder + "../share/tovelle/shaders/" + name;
}

// Waits until the library's clock stands ms into a turn of the StandaloneEngine
// (its tick count, taken as signed, modulo 2000), at least a few ticks ahead.
void WaitForTurnPoint(int ms) {
    auto into = [](uint32_t ticks) { return (static_cast<int32_t>(ticks) % kTurnMs + kTurnMs) % kTurnMs; };
    const uint32_t now = TickCount();
    int ahead = (ms - into(now) + kTurnMs) % kTurnMs;
    if (ahead < 5) ahead += kTurnMs;
    const uint32_t due = now + static_cast<uint32_t>(ahead);
    for (;;) {
        const auto left = static_cast<int32_t>(due - TickCount());
        if (left <= 0) break;
        timespec pause{left / 1000, static_cast<long>(left % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

class Road {
public:
    Road(const RoadSettings &s, const Exports &e) : s_(s), e_(e), window_(s.width, s.height) {}
    ~Road() {
        if (setUp_) e_.term(1);
    }
    Road(const Road &) = delete;
    Road &operator=(const Road &) = delete;

    int Run() {
        const std::string vertexShader = s_.vertexShader.empty() ? DefaultShader("relief.vsh") : s_.vertexShader;
        const std::string pixelShader = s_.pixelShader.empty() ? DefaultShader("relief.psh") : s_.pixelShader;
        for (const auto &[path, what] : {std::pair{vertexShader, "vertex shader"},
                                         std::pair{pixelShader, "pixel shader"},
                                         std::pair{s_.model, "model"},
                                         std::pair{s_.texture, "texture picture"}})
            if (!path.empty() && !Readable(path))
                return Fail(kBadInput, std::string("cannot read ") + what + " '" + path + "': " +
                                           std::strerror(errno));
        GlobalBlock depth, colour;
        std::string error;
        if (!s_.depth.empty() && !ReadPackedDib(s_.depth, "depth image", depth, error))
            return Fail(kBadInput, error);
        if (!s_.colour.empty() && !ReadPackedDib(s_.colour, "colour image", colour, error))
            return Fail(kBadInput, error);

        if (e_.init(&window_.window, vertexShader.c_str(), pixelShader.c_str()) != 1)
            return Fail(kFailed, "the StandaloneEngine could not be set up (see the messages above)");
        setUp_ = true;

        if (!s_.writeModel.empty()) {
            error = WriteModelFile(1, depth.get(), colour.get(), s_.writeModel);
            if (!error.empty()) return Fail(kFailed, error);
        }
        const HRESULT built = s_.model.empty() ? e_.get3DImage(1, depth.get(), colour.get(), nullptr)
                                               : e_.readQ3DFile(1, s_.model.c_str());
        if (FAILED(built)) return Fail(kFailed, "the mesh could not be built (" + HResultText(built) + ")");
        if (!s_.texture.empty()) {
            const HRESULT hr = e_.setTexture(1, s_.texture.c_str());
            if (FAILED(hr))
                return Fail(kBadInput, "cannot load '" + s_.texture + "' as a texture (" + HResultText(hr) + ")");
        }
        // Building or reading the mesh put the eye back to its start.
        MoveEyeBySteps(e_.moveEye, 1, s_.eyeSteps);
        if (s_.wire) e_.fillMode(1);
        if (s_.flat) e_.shadeMode(1, 1);

        if (s_.frames) {
            e_.effect(1, 0, 0); // starts the turning
            for (int i = 0; i < s_.frames; ++i) {
                WaitForTurnPoint(kTurnMs * i / s_.frames);
                if (int rc = DrawAndWrite(FramePath(s_.output, i + 1, s_.frames)); rc != 0) return rc;
            }
            return 0;
        }
        if (s_.turn) {
            e_.effect(1, 0, 0);
            WaitForTurnPoint(s_.turnAtMs);
        }
        return DrawAndWrite(s_.output);
    }

private:
    int DrawAndWrite(const std::string &path) {
        return render::DrawAndWrite(window_, e_.render, 1, path);
    }

    const RoadSettings &s_;
    const Exports &e_;
    FrameWindow window_;
    bool setUp_ = false;
};

} // namespace

bool IsStandaloneRoad(int argc, const char *const *argv) {
    return argc >= 2 && std::strcmp(argv[1], "--standalone") == 0;
}

std::string StandaloneHelpText() {
    std::string text =
        "Usage: qrv-render --standalone DEPTH [options]\n"
        "       qrv-render --standalone --model FILE [options]\n"
        "\n"
        "Draws through the library's StandaloneEngine: sets it up with a vertex and a\n"
        "pixel shader, builds its mesh at four grid points per pixel of DEPTH (a BMP whose\n"
        "red in each pixel's colour says how near it comes) or reads a q3d model, and\n"
        "writes the frame as a PNG file.\n"
        "\n"
        "Options:\n";
    text += OptionsHelp(RoadOptions());
    text += "\n"
            "Exit status: 0 when every frame was written; 2 for a bad command line or an\n"
            "input file that cannot be read; 1 when the engine could not be set up or a\n"
            "frame could not be drawn or written.\n";
    return text;
}

int RunStandaloneRoad(int argc, const char *const *argv) {
    RoadSettings settings;
    std::string error;
    if (!Parse(argc, argv, settings, error)) {
        std::fprintf(stderr, "qrv-render: %s\n", error.c_str());
        return kBadInput;
    }
    if (settings.help) {
        std::fputs(StandaloneHelpText().c_str(), stdout);
        return 0;
    }
    const Exports exports = ImportExports();
    Road road(settings, exports);
    return road.Run();
}

} // namespace qrv::render
