#include "recording_qrv.h"

namespace tovelle::testing {

namespace {

QrvImports &Real() {
    static QrvImports real = QrvImports::ByOrdinal();
    return real;
}

void Record(const char *name, std::vector<double> args) {
    RecordedCalls().push_back(EngineCall{name, std::move(args), 0, {}});
}

void Effect(ViewHandle view, int32_t type, int32_t value) {
    Record("Effect", {double(type), double(value)});
    Real()._QRV3DEffect(view, type, value);
}
void FillMode(ViewHandle view) {
    Record("FillMode", {});
    Real()._QRV3DFillMode(view);
}
HRESULT Get3DImage(ViewHandle view, HGLOBAL depth, HGLOBAL colour, const char *photoPath) {
    RecordedCalls().push_back(
        EngineCall{"Get3DImage", {}, GlobalSize(depth), photoPath ? photoPath : ""});
    return Real()._QRV3DGet3DImage(view, depth, colour, photoPath);
}
ViewHandle Init(HWND window, const char *vs, const char *ps) {
    Record("Init", {});
    return Real()._QRV3DInit(window, vs, ps);
}
void MoveEye(ViewHandle view, float dx, float dy, float dz) {
    Record("MoveEye", {dx, dy, dz});
    Real()._QRV3DMoveEye(view, dx, dy, dz);
}
bool Render(ViewHandle view) {
    Record("Render", {});
    return Real()._QRV3DRender(view);
}
void ShadeMode(ViewHandle view, int32_t mode) {
    Record("ShadeMode", {double(mode)});
    Real()._QRV3DShadeMode(view, mode);
}
void Term(ViewHandle view) {
    Record("Term", {});
    Real()._QRV3DTerm(view);
}

} // namespace

std::vector<EngineCall> &RecordedCalls() {
    static std::vector<EngineCall> calls;
    return calls;
}

QrvImports RecordingImports() {
    RecordedCalls().clear();
    return QrvImports{&Effect, &FillMode, &Get3DImage, &Init, &MoveEye, &Render, &ShadeMode, &Term};
}

std::vector<EngineCall> CallsNamed(const std::string &name) {
    std::vector<EngineCall> out;
    for (const EngineCall &call : RecordedCalls()) {
        if (call.name == name) out.push_back(call);
    }
    return out;
}

} // namespace tovelle::testing
