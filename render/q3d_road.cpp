// qrv-render reading and writing q3d model files through the library's exports.
#include "q3d_road.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frame_host.h"

namespace qrv::render {

std::string ReadModelFile(ViewHandle view, const std::string &model) {
    if (access(model.c_str(), R_OK) != 0)
        return "cannot read model '" + model + "': " + std::strerror(errno);
    HRESULT (*read)(ViewHandle, const char *) = nullptr;
    Import(12, read); // _QRV3DReadQ3DFile
    const HRESULT hr = read(view, model.c_str());
    if (FAILED(hr)) return "cannot read model '" + model + "' (" + HResultText(hr) + ")";
    return {};
}

std::string WriteModelFile(ViewHandle view, HGLOBAL depthDib, HGLOBAL colourDib,
                           const std::string &name) {
    const std::string target = ModelFileFor(name);
    if (target.empty()) return "the model's name '" + name + "' is too short to end in \"q3d\"";
    // A fresh file beside the target, its name ending in "q3d" too, renamed over
    // the target once written.
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string fresh = folder + ".qrv-render-" + std::to_string(getpid()) + "-" + base;
    std::remove(fresh.c_str());

    HRESULT (*write)(ViewHandle, HGLOBAL, HGLOBAL, const char *) = nullptr;
    Import(18, write);
    const HRESULT hr = write(view, depthDib, colourDib, fresh.c_str()); // _QRV3DWriteQ3DFile
    if (FAILED(hr) || access(fresh.c_str(), F_OK) != 0) {
        std::remove(fresh.c_str());
        return "cannot write model '" + target + "'" +
               (depthDib || colourDib ? "" : ": no picture to make it from");
    }
    if (std::rename(fresh.c_str(), target.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(fresh.c_str());
        return "cannot write model '" + target + "': " + reason;
    }
    std::printf("wrote %s\n", target.c_str());
    return {};
}

} // namespace qrv::render
