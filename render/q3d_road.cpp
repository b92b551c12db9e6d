// qrv-render reading and writing q3d model files through the library's exports.
#include "q3d_road.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qrv::render {

namespace {

template <typename F> F Export(int ordinal) {
    return reinterpret_cast<F>(const_cast<void *>(qrvExportTable[ordinal - 1].function));
}

} // namespace

std::string ReadModelFile(ViewHandle view, const std::string &model) {
    if (access(model.c_str(), R_OK) != 0)
        return "cannot read model '" + model + "': " + std::strerror(errno);
    const auto read = Export<HRESULT (*)(ViewHandle, const char *)>(12); // _QRV3DReadQ3DFile
    const HRESULT hr = read(view, model.c_str());
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08x", static_cast<unsigned>(hr));
        return "cannot read model '" + model + "' (" + code + ")";
    }
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

    const auto write = Export<HRESULT (*)(ViewHandle, HGLOBAL, HGLOBAL, const char *)>(18);
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
