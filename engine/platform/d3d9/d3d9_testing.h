// Seams for tests: a stand-in Direct3D object, and device loss on demand.
#pragma once

#include "d3d9.h"

namespace qrv::d3d9 {

// While set, Direct3DCreate9 returns factory(sdkVersion) instead of the OpenGL
// implementation's object. Pass null to restore the real one.
using Direct3DFactory = IDirect3D9 *(*)(UINT sdkVersion);
void SetDirect3DFactory(Direct3DFactory factory);

// Makes a device of the OpenGL implementation lost, as if its context had been
// lost: Present and TestCooperativeLevel give D3DERR_DEVICELOST until
// resettable is set, then TestCooperativeLevel gives D3DERR_DEVICENOTRESET and a
// Reset succeeds. Returns false for a device this implementation did not make.
bool InjectDeviceLoss(IDirect3DDevice9 *device);
bool SetDeviceResettable(IDirect3DDevice9 *device, bool resettable);

} // namespace qrv::d3d9
