// The fixed-function pipeline as generated GLSL: a vertex program for the
// transforms, vertex colours and texture coordinates, and a fragment program for
// the texture stages. Both use the names of shader_glsl.h, so either may pair with
// a translated shader on the other side.
#pragma once

#include <cstdint>
#include <string>

namespace qrv::d3d9 {

constexpr int kMaxTextureStages = 8;

// Attribute locations of the fixed-function vertex program.
enum FixedAttribute : uint32_t {
    kAttributePosition = 0,
    kAttributeNormal = 1,
    kAttributeDiffuse = 2,
    kAttributeSpecular = 3,
    kAttributeTexCoord0 = 4, // ... 4 + 7
};

// Keys hold only single bytes, so they compare and hash as plain bytes.
struct FixedVertexKey {
    uint8_t lighting = 0;   // D3DRS_LIGHTING: no lights, so black with the vertex alpha
    uint8_t hasDiffuse = 0; // the vertex format carries a diffuse colour
    uint8_t flat = 0;       // D3DSHADE_FLAT: colours taken from the provoking vertex
    struct Coord {
        uint8_t source = 0;    // 0 a coordinate set, 1 camera-space position, 2 camera-space normal
        uint8_t set = 0;       // the coordinate set for source 0
        uint8_t dimensions = 0; // components of that set in the vertex (0: absent)
        uint8_t count = 0;     // D3DTTFF_COUNTn: transform by the stage's matrix (0: no transform)
    } coords[kMaxTextureStages];
};

struct FixedPixelKey {
    uint8_t flat = 0;
    uint8_t stageCount = 0; // stages before the first disabled one
    struct Stage {
        uint8_t colorOp = 0, colorArg1 = 0, colorArg2 = 0;
        uint8_t alphaOp = 0, alphaArg1 = 0, alphaArg2 = 0;
        uint8_t projectedComponent = 0; // D3DTTFF_PROJECTED: 1 + component to divide by, else 0
    } stages[kMaxTextureStages];
};

std::string FixedVertexProgram(const FixedVertexKey &key);
std::string FixedPixelProgram(const FixedPixelKey &key);

} // namespace qrv::d3d9
