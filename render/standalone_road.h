// qrv-render's StandaloneEngine road: "qrv-render --standalone ..." sets the
// library's second engine up with shader files, builds its mesh from a depth image
// (and an optional colour image) or reads a q3d model, optionally textures it
// through "texture.ps", and writes the frames as PNG files.
#pragma once

#include <string>

namespace qrv::render {

// True when the command line asks for the StandaloneEngine road: its first
// argument is "--standalone".
bool IsStandaloneRoad(int argc, const char *const *argv);

// Runs the road for argv (argv[1] being "--standalone"); returns the exit status:
// 0 when every frame was written, 2 for a bad command line or an unreadable input
// file, 1 when the engine could not be set up or a frame not drawn or written.
int RunStandaloneRoad(int argc, const char *const *argv);

// The road's --help text.
std::string StandaloneHelpText();

} // namespace qrv::render
