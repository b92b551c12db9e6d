// Direct3D 9 shader tokens to GLSL 3.30, and the names that tie translated shaders,
// the fixed-function emulation and the device together.
//
// Names shared by every GLSL program the device builds:
//   vertex inputs      layout(location = N) in vec4 qrv_v<N>;   register vN (dcl'd)
//   vertex constants   uniform vec4 qrv_c[256];                 c0..c255
//   vertex -> fragment qrv_d0, qrv_d1 (oD0/oD1, diffuse/specular colour),
//                      qrv_t0..qrv_t7 (oT0..oT7), all vec4; the colour pair is
//                      declared `flat` when flat shading is asked for
//   pixel constants    uniform vec4 qrv_pc[32];
//   samplers           uniform sampler2D qrv_s<N>;               sN / texture stage N
//   fragment output    layout(location = 0) out vec4 qrv_color;
//   position fix-up    uniform vec2 qrv_pixelOffset; a vertex program ends with
//                      gl_Position.xy += qrv_pixelOffset * gl_Position.w;
//                      (Direct3D 9 pixel centres; clip z is [0, 1] through
//                      glClipControl, so z is not touched)
// A translated vertex shader pairs with the fixed-function fragment emulation and
// the other way round, because both sides use these names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/wintypes.h"

namespace qrv::d3d9 {

// One declared vertex input: register vN takes the declaration element with this
// usage and usage index.
struct ShaderInput {
    uint32_t reg;
    uint8_t usage;
    uint8_t usageIndex;
};

struct TranslatedShader {
    bool pixel = false;        // pixel shader (else vertex shader)
    DWORD version = 0;         // the version token, e.g. 0xFFFE0101 for vs_1_1
    std::string glsl;          // a complete GLSL 3.30 core shader
    std::vector<ShaderInput> inputs; // vertex shaders: the dcl'd v registers
    uint32_t samplerMask = 0;  // pixel shaders: bit N set when sampler N is read
    size_t tokenCount = 0;     // tokens consumed, end token included
};

// Translates the token stream at tokens (ending with the end token 0x0000FFFF,
// read no further than maxTokens). flatColour declares qrv_d0/qrv_d1 flat.
// Returns false, with a one-line reason in *error, for streams this layer cannot
// run (unknown opcodes or registers, malformed tokens, no end token).
bool TranslateShader(const DWORD *tokens, size_t maxTokens, bool flatColour,
                     TranslatedShader *out, std::string *error);

} // namespace qrv::d3d9
