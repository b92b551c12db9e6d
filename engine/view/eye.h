// The eye both engines look from: a point on a sphere about the origin, on the
// near side (z <= 0), stepped sideways and up or down over the sphere and nearer
// or farther along z.
#pragma once

#include "platform/d3dx9/d3dx9.h"

namespace qrv {

// True when (x, y) lies strictly inside the circle of the sphere of radius
// eyeDistance, so the eye can stand there with z < 0.
bool EyeMoveTest(float eyeDistance, float x, float y);

// One step of the eye: sideways (dx), then up or down (dy) over the sphere, each
// refused when it would reach the sphere's rim; then along z (dz), refused unless
// the new z lies strictly between -10 and -1, and taking the new distance as the
// sphere's radius. A step of 0 is skipped; a refused part changes nothing.
void StepEye(D3DXVECTOR3 &eye, float &eyeDistance, float dx, float dy, float dz);

} // namespace qrv
