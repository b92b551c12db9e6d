#include "standalone/standalone_engine.h"

#include <cmath>

namespace qrv::standalone {

StandaloneEngine engine;

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

} // namespace qrv::standalone
