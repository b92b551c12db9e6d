// A self-check for the start-up smoke test: when TOVELLE_SMOKE_GRAB names a folder,
// the program waits until its window is on the screen, writes what the screen
// shows of it and a short report there, and quits.
#pragma once

namespace tovelle {

class TTovelleForm;

// Arms the self-check when the environment asks for it; does nothing otherwise.
void ArmSmokeGrab(TTovelleForm &form);

} // namespace tovelle
