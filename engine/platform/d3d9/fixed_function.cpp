#include "fixed_function.h"

#include <string>

#include "d3d9.h"

namespace qrv::d3d9 {
namespace {

std::string Stage(int i) { return std::to_string(i); }

// The texture coordinate vector that a stage's matrix transforms. A set of two
// components becomes (u, v, 1, 0), so that the matrix's third row translates,
// as Direct3D does; one component becomes (u, 1, 0, 0).
std::string CoordinateInput(const FixedVertexKey::Coord &coord) {
    if (coord.source == 1) return "viewPosition";
    if (coord.source == 2) return "vec4(viewNormal, 1.0)";
    if (coord.dimensions == 0) return "vec4(0.0, 0.0, 0.0, 1.0)";
    const std::string in = "qrv_inTex" + Stage(coord.set);
    if (coord.count == 0) return in;
    switch (coord.dimensions) {
    case 1: return "vec4(" + in + ".x, 1.0, 0.0, 0.0)";
    case 2: return "vec4(" + in + ".xy, 1.0, 0.0)";
    case 3: return "vec4(" + in + ".xyz, 1.0)";
    default: return in;
    }
}

} // namespace

std::string FixedVertexProgram(const FixedVertexKey &key) {
    const char *flat = key.flat ? "flat " : "";
    std::string s = "#version 330 core\n"
                    "layout(location = 0) in vec4 qrv_inPosition;\n"
                    "layout(location = 1) in vec4 qrv_inNormal;\n"
                    "layout(location = 2) in vec4 qrv_inDiffuse;\n"
                    "layout(location = 3) in vec4 qrv_inSpecular;\n";
    for (int i = 0; i < kMaxTextureStages; ++i)
        s += "layout(location = " + Stage(kAttributeTexCoord0 + i) + ") in vec4 qrv_inTex" +
             Stage(i) + ";\n";
    s += "uniform mat4 qrv_worldViewProj;\n"
         "uniform mat4 qrv_worldView;\n"
         "uniform mat4 qrv_texMatrix[8];\n"
         "uniform vec2 qrv_pixelOffset;\n";
    s += std::string(flat) + "out vec4 qrv_d0;\n" + flat + "out vec4 qrv_d1;\n";
    for (int i = 0; i < kMaxTextureStages; ++i) s += "out vec4 qrv_t" + Stage(i) + ";\n";
    s += "void main() {\n"
         "    vec4 position = vec4(qrv_inPosition.xyz, 1.0);\n"
         "    gl_Position = qrv_worldViewProj * position;\n"
         "    vec4 viewPosition = qrv_worldView * position;\n";
    bool normals = false;
    for (const FixedVertexKey::Coord &coord : key.coords) normals = normals || coord.source == 2;
    if (normals) {
        // A vertex without a normal has (0, 0, 0): keep it zero rather than NaN.
        s += "    vec3 viewNormal = mat3(qrv_worldView) * qrv_inNormal.xyz;\n"
             "    if (dot(viewNormal, viewNormal) > 0.0) viewNormal = normalize(viewNormal);\n";
    }
    if (key.lighting) {
        // Lighting without lights or material: no light reaches the vertex, so the
        // colour is black; the alpha comes from the vertex colour when it has one.
        s += key.hasDiffuse ? "    qrv_d0 = vec4(0.0, 0.0, 0.0, qrv_inDiffuse.a);\n"
                            : "    qrv_d0 = vec4(0.0);\n";
        s += "    qrv_d1 = vec4(0.0);\n";
    } else {
        s += "    qrv_d0 = qrv_inDiffuse;\n"
             "    qrv_d1 = qrv_inSpecular;\n";
    }
    for (int i = 0; i < kMaxTextureStages; ++i) {
        const FixedVertexKey::Coord &coord = key.coords[i];
        const std::string input = CoordinateInput(coord);
        if (coord.count == 0)
            s += "    qrv_t" + Stage(i) + " = " + input + ";\n";
        else
            s += "    qrv_t" + Stage(i) + " = qrv_texMatrix[" + Stage(i) + "] * " + input + ";\n";
    }
    s += "    gl_Position.xy += qrv_pixelOffset * gl_Position.w;\n"
         "}\n";
    return s;
}

namespace {

std::string Argument(uint8_t arg, const std::string &stage) {
    std::string v;
    switch (arg & 0x0F) {
    case D3DTA_DIFFUSE: v = "qrv_d0"; break;
    case D3DTA_CURRENT: v = "current"; break;
    case D3DTA_TEXTURE: v = "texel" + stage; break;
    case D3DTA_SPECULAR: v = "qrv_d1"; break;
    case D3DTA_TFACTOR: v = "vec4(1.0)"; break; // the default factor, opaque white
    default: v = "vec4(0.0)"; break;      // D3DTA_TEMP and the rest
    }
    if (arg & D3DTA_ALPHAREPLICATE) v = "(" + v + ").aaaa";
    if (arg & D3DTA_COMPLEMENT) v = "(vec4(1.0) - " + v + ")";
    return v;
}

bool UsesTexture(uint8_t arg) { return (arg & 0x0F) == D3DTA_TEXTURE; }

std::string Operation(uint8_t op, const std::string &a1, const std::string &a2) {
    switch (op) {
    case D3DTOP_SELECTARG1: return a1;
    case D3DTOP_SELECTARG2: return a2;
    case D3DTOP_MODULATE: return a1 + " * " + a2;
    case D3DTOP_MODULATE2X: return "clamp(" + a1 + " * " + a2 + " * 2.0, 0.0, 1.0)";
    case D3DTOP_MODULATE4X: return "clamp(" + a1 + " * " + a2 + " * 4.0, 0.0, 1.0)";
    case D3DTOP_ADD: return "clamp(" + a1 + " + " + a2 + ", 0.0, 1.0)";
    case D3DTOP_ADDSIGNED: return "clamp(" + a1 + " + " + a2 + " - 0.5, 0.0, 1.0)";
    case D3DTOP_SUBTRACT: return "clamp(" + a1 + " - " + a2 + ", 0.0, 1.0)";
    default: return "current";
    }
}

} // namespace

std::string FixedPixelProgram(const FixedPixelKey &key) {
    const char *flat = key.flat ? "flat " : "";
    std::string s = "#version 330 core\n";
    s += std::string(flat) + "in vec4 qrv_d0;\n" + flat + "in vec4 qrv_d1;\n";
    for (int i = 0; i < key.stageCount; ++i)
        s += "in vec4 qrv_t" + Stage(i) + ";\nuniform sampler2D qrv_s" + Stage(i) + ";\n";
    s += "layout(location = 0) out vec4 qrv_color;\n"
         "void main() {\n"
         "    vec4 current = qrv_d0;\n";
    for (int i = 0; i < key.stageCount; ++i) {
        const FixedPixelKey::Stage &stage = key.stages[i];
        const std::string n = Stage(i);
        const bool alphaEnabled = stage.alphaOp != D3DTOP_DISABLE;
        const bool texture = UsesTexture(stage.colorArg1) || UsesTexture(stage.colorArg2) ||
                             (alphaEnabled && (UsesTexture(stage.alphaArg1) ||
                                               UsesTexture(stage.alphaArg2)));
        if (texture) {
            std::string coord = "qrv_t" + n + ".xy";
            if (stage.projectedComponent) {
                const char component = "xyzw"[stage.projectedComponent - 1];
                coord = "(qrv_t" + n + ".xy / qrv_t" + n + "." + component + ")";
            }
            s += "    vec4 texel" + n + " = texture(qrv_s" + n + ", " + coord + ");\n";
        }
        const std::string color = Operation(stage.colorOp, Argument(stage.colorArg1, n),
                                            Argument(stage.colorArg2, n));
        const std::string alpha = alphaEnabled ? Operation(stage.alphaOp, Argument(stage.alphaArg1, n),
                                                           Argument(stage.alphaArg2, n))
                                               : "current";
        s += "    current = vec4((" + color + ").rgb, (" + alpha + ").a);\n";
    }
    s += "    qrv_color = current;\n"
         "}\n";
    return s;
}

} // namespace qrv::d3d9
