// qrv-render: a headless host of libqrv.so. It draws a photo as a relief through
// the library's exports only, imported by ordinal as Tovelle imports them, and
// writes the frames as PNG files.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "frame_host.h"
#include "options.h"
#include "q3d_road.h"
#include "standalone_road.h"
#include "qrv.h"

namespace qrv::render {
namespace {

// Reads a depth image file into a movable block as Tovelle does: the file's bytes
// after its 14-byte header, as many as its header's file size names. A file that
// is not a BMP, or shorter than its header says, is refused with a message.
bool ReadDepthImage(const std::string &path, GlobalBlock &block, std::string &error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot read depth image '" + path + "': " + std::strerror(errno);
        return false;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff fileSize = file.tellg();
    file.seekg(0);
    uint8_t header[14] = {};
    if (!file.read(reinterpret_cast<char *>(header), sizeof header) || header[0] != 'B' ||
        header[1] != 'M') {
        error = "depth image '" + path + "' is not a BMP file";
        return false;
    }
    const uint32_t fileBytes =
        static_cast<uint32_t>(header[2]) | static_cast<uint32_t>(header[3]) << 8 |
        static_cast<uint32_t>(header[4]) << 16 | static_cast<uint32_t>(header[5]) << 24;
    if (fileBytes < 14 + 40) {
        error = "depth image '" + path + "' has no image header";
        return false;
    }
    if (fileBytes > fileSize) {
        error = "depth image '" + path + "' is cut short (" + std::to_string(fileSize) + " of " +
                std::to_string(fileBytes) + " bytes)";
        return false;
    }
    const size_t size = fileBytes - 14;
    block.Reset(GlobalAlloc(GMEM_MOVEABLE, size));
    void *data = block.get() ? GlobalLock(block.get()) : nullptr;
    if (!data) {
        error = "no memory for depth image '" + path + "'";
        return false;
    }
    const bool read =
        static_cast<bool>(file.read(static_cast<char *>(data), static_cast<std::streamsize>(size)));
    GlobalUnlock(block.get());
    if (!read) {
        error = "cannot read depth image '" + path + "'";
        return false;
    }
    return true;
}

// Waits until the turning relief stands at angle (radians into a turn): the
// library turns it by the tick count, one radian a thousand ticks.
void WaitForAngle(double angle) {
    constexpr double turn = 2 * std::numbers::pi * 1000.0; // ticks in one turn
    const uint32_t now = TickCount();
    const double target = angle * 1000.0;
    // The next tick count at least a few milliseconds ahead whose angle is target.
    double ahead = std::fmod(target - std::fmod(static_cast<double>(now), turn), turn);
    if (ahead < 0) ahead += turn;
    if (ahead < 5) ahead += turn;
    const uint32_t due = now + static_cast<uint32_t>(std::lround(ahead));
    while (static_cast<int32_t>(due - TickCount()) > 0) {
        const uint32_t left = due - TickCount();
        if (static_cast<int32_t>(left) <= 0) break;
        timespec pause{static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

class Renderer {
public:
    Renderer(const Settings &settings, const Exports &exports)
        : s_(settings), e_(exports), window_(settings.width, settings.height) {}
    ~Renderer() {
        if (view_) e_.term(view_);
    }
    Renderer(const Renderer &) = delete;
    Renderer &operator=(const Renderer &) = delete;

    int Run() {
        if (!PhotoReadable()) return kBadInput;
        if (!ResolveDepthImage()) return kBadInput;

        view_ = e_.init(&window_.window, nullptr, nullptr);
        if (!view_) return Fail(kFailed, "the library could not make a view");
        // As Tovelle does with every photo it opens.
        e_.moveEye(view_, 0, 0, -0.8f);
        MoveEyeBySteps(e_.moveEye, view_, s_.eyeSteps);
        if (s_.tear) e_.setThreshold(view_, s_.tearLevel);
        if (s_.wire) e_.fillMode(view_);

        switch (s_.series) {
        case Series::PopUp: {
            // Tovelle's animation counter: 98, 94, 86, 70, 38, 0.
            const int counters[] = {98, 94, 86, 70, 38, 0};
            for (int i = 0; i < 6; ++i) {
                e_.effect(view_, 2, counters[i]);
                if (int rc = Build(); rc != 0) return rc;
                if (int rc = DrawAndWrite(FramePath(s_.output, i + 1, 6)); rc != 0) return rc;
            }
            return 0;
        }
        case Series::Turntable: {
            e_.effect(view_, 2, 100 - s_.popupPercent);
            if (int rc = Build(); rc != 0) return rc;
            e_.effect(view_, 1, 1);
            const int n = s_.turntableFrames;
            for (int i = 0; i < n; ++i) {
                WaitForAngle(2 * std::numbers::pi * i / n);
                if (int rc = DrawAndWrite(FramePath(s_.output, i + 1, n)); rc != 0) return rc;
            }
            return 0;
        }
        case Series::None:
            break;
        }
        e_.effect(view_, 2, 100 - s_.popupPercent);
        if (int rc = Build(); rc != 0) return rc;
        if (s_.turn) {
            e_.effect(view_, 1, 1);
            WaitForAngle(s_.turnAtMs / 1000.0);
        }
        return DrawAndWrite(s_.output);
    }

private:
    bool PhotoReadable() {
        std::ifstream photo(s_.photo, std::ios::binary);
        char byte;
        if (!photo || !photo.read(&byte, 1)) {
            Fail(kBadInput, "cannot read photo '" + s_.photo + "'" +
                                (errno ? std::string(": ") + std::strerror(errno) : ""));
            return false;
        }
        return true;
    }

    bool ResolveDepthImage() {
        if (s_.noDepth || !s_.model.empty()) return true;
        depthPath_ = s_.depth.empty() ? CompanionDepthPath(s_.photo) : s_.depth;
        if (s_.depth.empty()) {
            // A photo without its companion is drawn flat, as in Tovelle.
            std::ifstream probe(depthPath_, std::ios::binary);
            if (!probe && errno == ENOENT) {
                std::fprintf(stderr, "qrv-render: no depth image '%s'; drawing the photo flat\n",
                             depthPath_.c_str());
                depthPath_.clear();
                return true;
            }
        }
        GlobalBlock probe;
        std::string error;
        if (!ReadDepthImage(depthPath_, probe, error)) {
            Fail(kBadInput, error);
            return false;
        }
        return true;
    }

    // Reads the depth image afresh, as Tovelle does for every build, and builds
    // the relief.
    int Build() {
        if (!s_.model.empty()) {
            const std::string error = ReadModelFile(view_, s_.model);
            return error.empty() ? 0 : Fail(kBadInput, error);
        }
        GlobalBlock block;
        if (!depthPath_.empty()) {
            std::string error;
            if (!ReadDepthImage(depthPath_, block, error)) return Fail(kBadInput, error);
        }
        if (!s_.writeModel.empty()) {
            const std::string error = WriteModelFile(view_, block.get(), nullptr, s_.writeModel);
            if (!error.empty()) return Fail(kFailed, error);
        }
        const HRESULT hr = e_.get3DImage(view_, block.get(), nullptr, s_.photo.c_str());
        if (FAILED(hr))
            return Fail(kBadInput, "cannot load photo '" + s_.photo + "' as a picture (" +
                                       HResultText(hr) + ")");
        return 0;
    }

    int DrawAndWrite(const std::string &path) {
        return render::DrawAndWrite(window_, e_.render, view_, path);
    }

    const Settings &s_;
    const Exports &e_;
    FrameWindow window_;
    ViewHandle view_ = 0;
    std::string depthPath_;
};

} // namespace
} // namespace qrv::render

int main(int argc, char **argv) {
    using namespace qrv::render;
    if (IsStandaloneRoad(argc, argv)) return RunStandaloneRoad(argc, argv);
    Settings settings;
    std::string error;
    if (!ParseCommandLine(argc, argv, settings, error)) {
        std::fprintf(stderr, "qrv-render: %s\n", error.c_str());
        return 2;
    }
    if (settings.help) {
        std::fputs(HelpText().c_str(), stdout);
        return 0;
    }
    const Exports exports = ImportExports();
    Renderer renderer(settings, exports);
    return renderer.Run();
}
