#include "view/eye.h"

#include <cmath>

#include "view/relief_view.h"

namespace qrv {

bool EyeMoveTest(float eyeDistance, float x, float y) {
    const float room = eyeDistance * eyeDistance - x * x - y * y;
    return room > 0.0f;
}

void StepEye(D3DXVECTOR3 &eye, float &eyeDistance, float dx, float dy, float dz) {
    const float r = eyeDistance;
    // Each part sees what the one before it left. NaN steps count as steps and are
    // then refused, since every comparison with NaN fails.
    if (dx != 0.0f) {
        const float x = eye.x + dx;
        if (EyeMoveTest(r, x, eye.y)) {
            eye.x = x;
            const float room = r * r - eye.x * eye.x - eye.y * eye.y;
            eye.z = -std::sqrt(room);
        }
    }
    if (dy != 0.0f) {
        const float y = eye.y + dy;
        if (EyeMoveTest(r, eye.x, y)) {
            eye.y = y;
            const float room = r * r - eye.x * eye.x - eye.y * eye.y;
            eye.z = -std::sqrt(room);
        }
    }
    if (dz != 0.0f) {
        const float z = eye.z + dz;
        if (z > -10.0f && z < -1.0f) {
            eye.z = z;
            eyeDistance = std::sqrt(eye.x * eye.x + eye.y * eye.y + eye.z * eye.z);
        }
    }
}

void ReliefView::MoveEye(float dx, float dy, float dz) { StepEye(eye, eyeDistance, dx, dy, dz); }

bool ReliefView::MoveTest(float x, float y) const { return EyeMoveTest(eyeDistance, x, y); }

} // namespace qrv
