#include "standalone/standalone_engine.h"

#include <cmath>

namespace qrv::standalone {

StandaloneEngine engine;

namespace {

template <typename T> void ReleaseAndClear(T *&object) {
    if (object) {
        object->Release();
        object = nullptr;
    }
}

} // namespace

bool ReleaseDXGraphics() {
    ReleaseAndClear(engine.pixelShader);
    ReleaseAndClear(engine.vertexShader);
    ReleaseAndClear(engine.indexBuffer);
    ReleaseAndClear(engine.texCoordBuffer);
    ReleaseAndClear(engine.colorBuffer);
    ReleaseAndClear(engine.positionBuffer);
    ReleaseAndClear(engine.vertexDeclaration);
    ReleaseAndClear(engine.texture);
    ReleaseAndClear(engine.device);
    ReleaseAndClear(engine.d3d);
    return true;
}

void ResetEye() {
    engine.eye = D3DXVECTOR3{0.0f, 3.0f, -4.0f};
    const D3DXVECTOR3 &e = engine.eye;
    engine.eyeDistance = std::sqrt(e.x * e.x + e.y * e.y + e.z * e.z);
}

// Set-up of the engine's device, shaders and default model is not there yet.
HRESULT InitDXGraphics(HWND, const char *, const char *) { return E_NOTIMPL; }

} // namespace qrv::standalone
