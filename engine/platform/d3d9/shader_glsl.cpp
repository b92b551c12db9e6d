// Direct3D 9 shader tokens to GLSL 3.30 core.
//
// Each Direct3D register becomes a GLSL variable: temporaries r#, the address
// register a0 (ivec4), the ps_1_1-1_3 texture registers t#, and one local per
// output register (o_pos, o_d0, o_t0, o_c0...), copied to the shared varyings at
// the end. An instruction becomes one statement that computes a vec4 and stores
// the components its write mask names.
//
// Direct3D's arithmetic is kept where GLSL differs:
// - rcp and rsq of 0 give +infinity, log of 0 gives -infinity (the results the
//   Direct3D 9 reference gives as PLUS_INFINITY / MINUS_INFINITY); rsq and log
//   take the absolute value, and rcp / rsq of exactly 1 give exactly 1.
// - Scalar instructions (rcp, rsq, exp, log, expp, logp, pow, sincos) read the w
//   component of the swizzled source, which is the replicated component when
//   the source carries a replicate swizzle as Direct3D asks.
// - Registers read before they are written read 0: temporaries start as
//   vec4(0). Unwritten vertex outputs start as (0, 0, 0, 0), except oD0, which
//   starts white (1, 1, 1, 1) as a vertex without a colour is in the fixed
//   pipeline. Direct3D leaves them undefined.
// - oD0 and oD1 are clamped to [0, 1] as they leave a vertex shader.
// - ps_1_x: constants read within [-1, 1]; every arithmetic result is kept within
//   [-kPixelShader1xMaxValue, kPixelShader1xMaxValue]; texcoord clamps to [0, 1];
//   r0 is the pixel's colour.
// - Relative constant reads outside c0..c255 give (0, 0, 0, 0).
#include "shader_glsl.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "shader_code.h"

namespace qrv::d3d9 {
namespace {

constexpr int kVertexConstants = 256;
constexpr int kPixelConstants = 32;

std::string FloatLiteral(float value) {
    char text[64];
    if (!std::isfinite(value)) {
        uint32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        std::snprintf(text, sizeof text, "uintBitsToFloat(0x%08Xu)", bits);
        return text;
    }
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    std::string literal = text;
    if (literal.find_first_of(".en") == std::string::npos) literal += ".0";
    return literal;
}

float BitsToFloat(DWORD bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

const char kComponents[] = "xyzw";

std::string MaskSuffix(uint8_t mask) {
    std::string suffix = ".";
    for (int i = 0; i < 4; ++i) {
        if (mask & (1u << i)) suffix += kComponents[i];
    }
    return suffix;
}

class Translator {
public:
    Translator(const ShaderProgram &program, bool flatColour)
        : program_(program), version_(program.version), vertex_(IsVertexShaderVersion(program.version)),
          major_(ShaderMajor(program.version)), minor_(ShaderMinor(program.version)),
          pixel1x_(!vertex_ && major_ < 2), flat_(flatColour) {}

    bool Run(TranslatedShader *out, std::string *error);

private:
    bool Collect(std::string *error);
    bool Statement(const ShaderInstruction &ins, std::string *error);
    bool Value(const ShaderInstruction &ins, std::string *value, std::string *error);
    std::string Store(const ShaderInstruction &ins, const std::string &value);
    std::string Source(const ShaderInstruction &ins, unsigned index, int offset = 0);
    std::string Register(const SourceParameter &src, int offset);
    std::string Destination(const DestinationParameter &dst);
    std::string TextureCoordinate(uint16_t stage);
    std::string Sample(uint16_t stage, const std::string &coordinates);
    std::string Assemble();

    const ShaderProgram &program_;
    DWORD version_;
    bool vertex_;
    unsigned major_;
    unsigned minor_;
    bool pixel1x_;
    bool flat_;

    std::string body_;
    uint32_t temps_ = 0;           // r# referenced
    uint32_t textureLocals_ = 0;   // ps_1_1-1_3 t# registers referenced as registers
    uint32_t texcoordInputs_ = 0;  // qrv_t# read by a pixel shader
    uint32_t colourInputs_ = 0;    // qrv_d# read by a pixel shader
    uint32_t samplers_ = 0;
    bool address_ = false;
    bool relative_ = false;
    bool depthWritten_ = false;
    bool pointSizeWritten_ = false;
    std::vector<ShaderInput> inputs_;
    std::vector<std::pair<uint16_t, std::array<float, 4>>> definitions_;
};

bool Translator::Collect(std::string *error) {
    for (const ShaderInstruction &ins : program_.instructions) {
        // Integer, boolean and loop registers serve flow control, which this layer
        // does not run.
        for (unsigned i = 0; i < ins.sourceCount; ++i) {
            const SourceParameter &src = ins.sources[i];
            bool flow = src.type == D3DSPR_CONSTINT || src.type == D3DSPR_CONSTBOOL || src.type == D3DSPR_LOOP ||
                        src.type == D3DSPR_LABEL || src.type == D3DSPR_PREDICATE ||
                        (src.relative && src.address.type != D3DSPR_ADDR);
            if (flow) {
                *error = "register " + ShaderRegisterName(version_, src.relative ? src.address.type : src.type,
                                                          src.relative ? src.address.number : src.number) +
                         " serves flow control, which this layer does not run";
                return false;
            }
        }
        if (ins.opcode == D3DSIO_DCL) {
            const DestinationParameter &d = ins.destination;
            if (d.type == D3DSPR_SAMPLER && ins.SamplerType() != D3DSTT_2D) {
                *error = "sampler s" + std::to_string(d.number) + " is not a 2D sampler; only 2D textures are supported";
                return false;
            }
            if (vertex_ && d.type == D3DSPR_INPUT) {
                inputs_.push_back({d.number, ins.Usage(), ins.UsageIndex()});
            }
        } else if (ins.opcode == D3DSIO_DEF) {
            std::array<float, 4> v;
            for (int i = 0; i < 4; ++i) {
                v[i] = BitsToFloat(ins.values[i]);
                // ps_1_x constants hold values within [-1, 1].
                if (pixel1x_ && !std::isnan(v[i])) v[i] = std::fmin(1.0f, std::fmax(-1.0f, v[i]));
            }
            uint16_t number = ins.destination.number;
            bool replaced = false;
            for (auto &definition : definitions_) {
                if (definition.first == number) {
                    definition.second = v;
                    replaced = true;
                }
            }
            if (!replaced) definitions_.push_back({number, v});
        }
    }
    return true;
}

std::string Translator::TextureCoordinate(uint16_t stage) {
    texcoordInputs_ |= 1u << stage;
    return "qrv_t" + std::to_string(stage);
}

std::string Translator::Sample(uint16_t stage, const std::string &coordinates) {
    samplers_ |= 1u << stage;
    return "texture(qrv_s" + std::to_string(stage) + ", " + coordinates + ")";
}

std::string Translator::Register(const SourceParameter &src, int offset) {
    int number = src.number + offset;
    std::string n = std::to_string(number);
    switch (src.type) {
    case D3DSPR_TEMP:
        temps_ |= 1u << number;
        return "r" + n;
    case D3DSPR_INPUT:
        if (vertex_) return "qrv_v" + n;
        colourInputs_ |= 1u << number;
        return "qrv_d" + n;
    case D3DSPR_CONST: {
        if (src.relative) {
            relative_ = true;
            address_ = true;
            return "qrv_crel(a0." + std::string(1, kComponents[src.address.component & 3]) + " + " + n + ")";
        }
        for (const auto &definition : definitions_) {
            if (definition.first == number) return "qrv_def" + n;
        }
        if (vertex_) return "qrv_c[" + n + "]";
        if (pixel1x_) return "clamp(qrv_pc[" + n + "], -1.0, 1.0)";
        return "qrv_pc[" + n + "]";
    }
    case D3DSPR_ADDR: // D3DSPR_TEXTURE in pixel shaders
        if (vertex_) {
            address_ = true;
            return "vec4(a0)";
        }
        if (pixel1x_ && minor_ < 4) {
            textureLocals_ |= 1u << number;
            return "t" + n;
        }
        return TextureCoordinate(static_cast<uint16_t>(number));
    default:
        return "vec4(0.0)";
    }
}

std::string Translator::Source(const ShaderInstruction &ins, unsigned index, int offset) {
    const SourceParameter &src = ins.sources[index];
    std::string x = Register(src, offset);
    if (src.swizzle != kIdentitySwizzle) {
        std::string swizzle;
        for (unsigned i = 0; i < 4; ++i) swizzle += kComponents[src.Component(i)];
        x = "(" + x + ")." + swizzle;
    }
    switch (src.modifier) {
    case D3DSPSM_NEG: return "(-" + x + ")";
    case D3DSPSM_BIAS: return "(" + x + " - 0.5)";
    case D3DSPSM_BIASNEG: return "(0.5 - " + x + ")";
    case D3DSPSM_SIGN: return "(2.0 * " + x + " - 1.0)";
    case D3DSPSM_SIGNNEG: return "(1.0 - 2.0 * " + x + ")";
    case D3DSPSM_COMP: return "(1.0 - " + x + ")";
    case D3DSPSM_X2: return "(2.0 * " + x + ")";
    case D3DSPSM_X2NEG: return "(-2.0 * " + x + ")";
    case D3DSPSM_DZ: return "vec4((" + x + ").xy / (" + x + ").z, (" + x + ").zw)";
    case D3DSPSM_DW: return "vec4((" + x + ").xy / (" + x + ").w, (" + x + ").zw)";
    case D3DSPSM_ABS: return "abs(" + x + ")";
    case D3DSPSM_ABSNEG: return "(-abs(" + x + "))";
    default: return x;
    }
}

std::string Translator::Destination(const DestinationParameter &dst) {
    std::string n = std::to_string(dst.number);
    switch (dst.type) {
    case D3DSPR_TEMP:
        temps_ |= 1u << dst.number;
        return "r" + n;
    case D3DSPR_ADDR:
        if (vertex_) {
            address_ = true;
            return "a0";
        }
        textureLocals_ |= 1u << dst.number;
        return "t" + n;
    case D3DSPR_RASTOUT:
        if (dst.number == kRastOutPosition) return "o_pos";
        if (dst.number == kRastOutFog) return "o_fog";
        pointSizeWritten_ = true;
        return "o_pts";
    case D3DSPR_ATTROUT: return "o_d" + n;
    case D3DSPR_TEXCRDOUT: return "o_t" + n;
    case D3DSPR_COLOROUT: return "o_c" + n;
    case D3DSPR_DEPTHOUT:
        depthWritten_ = true;
        return "o_depth";
    default: return "o_unused";
    }
}

// The vec4 an instruction computes, before its result modifiers and write mask.
bool Translator::Value(const ShaderInstruction &ins, std::string *value, std::string *error) {
    auto s = [&](unsigned i) { return Source(ins, i); };
    auto scalar = [&](unsigned i) { return "(" + s(i) + ").w"; };
    auto matrix = [&](int rows, int columns) {
        std::string v = "vec4(";
        for (int i = 0; i < 4; ++i) {
            if (i) v += ", ";
            if (i >= columns) {
                v += "0.0";
            } else if (rows == 4) {
                v += "dot(" + s(0) + ", " + Source(ins, 1, i) + ")";
            } else {
                v += "dot((" + s(0) + ").xyz, (" + Source(ins, 1, i) + ").xyz)";
            }
        }
        return v + ")";
    };
    switch (ins.opcode) {
    case D3DSIO_MOV:
    case D3DSIO_MOVA: *value = s(0); break;
    case D3DSIO_ADD: *value = "(" + s(0) + " + " + s(1) + ")"; break;
    case D3DSIO_SUB: *value = "(" + s(0) + " - " + s(1) + ")"; break;
    case D3DSIO_MUL: *value = "(" + s(0) + " * " + s(1) + ")"; break;
    case D3DSIO_MAD: *value = "(" + s(0) + " * " + s(1) + " + " + s(2) + ")"; break;
    case D3DSIO_RCP: *value = "vec4(qrv_rcp(" + scalar(0) + "))"; break;
    case D3DSIO_RSQ: *value = "vec4(qrv_rsq(" + scalar(0) + "))"; break;
    case D3DSIO_DP3: *value = "vec4(dot((" + s(0) + ").xyz, (" + s(1) + ").xyz))"; break;
    case D3DSIO_DP4: *value = "vec4(dot(" + s(0) + ", " + s(1) + "))"; break;
    case D3DSIO_MIN: *value = "min(" + s(0) + ", " + s(1) + ")"; break;
    case D3DSIO_MAX: *value = "max(" + s(0) + ", " + s(1) + ")"; break;
    case D3DSIO_SLT: *value = "vec4(lessThan(" + s(0) + ", " + s(1) + "))"; break;
    case D3DSIO_SGE: *value = "vec4(greaterThanEqual(" + s(0) + ", " + s(1) + "))"; break;
    case D3DSIO_EXP: *value = "vec4(exp2(" + scalar(0) + "))"; break;
    case D3DSIO_EXPP:
        *value = major_ >= 2 ? "vec4(exp2(" + scalar(0) + "))" : "qrv_expp(" + scalar(0) + ")";
        break;
    case D3DSIO_LOG: *value = "vec4(qrv_log(" + scalar(0) + "))"; break;
    case D3DSIO_LOGP:
        *value = major_ >= 2 ? "vec4(qrv_log(" + scalar(0) + "))" : "qrv_logp(" + scalar(0) + ")";
        break;
    case D3DSIO_LIT: *value = "qrv_lit(" + s(0) + ")"; break;
    case D3DSIO_DST:
        *value = "vec4(1.0, (" + s(0) + ").y * (" + s(1) + ").y, (" + s(0) + ").z, (" + s(1) + ").w)";
        break;
    case D3DSIO_LRP: *value = "(" + s(2) + " + " + s(0) + " * (" + s(1) + " - " + s(2) + "))"; break;
    case D3DSIO_FRC: *value = "fract(" + s(0) + ")"; break;
    case D3DSIO_M4x4: *value = matrix(4, 4); break;
    case D3DSIO_M4x3: *value = matrix(4, 3); break;
    case D3DSIO_M3x4: *value = matrix(3, 4); break;
    case D3DSIO_M3x3: *value = matrix(3, 3); break;
    case D3DSIO_M3x2: *value = matrix(3, 2); break;
    case D3DSIO_POW: *value = "vec4(pow(abs(" + scalar(0) + "), " + scalar(1) + "))"; break;
    case D3DSIO_CRS: *value = "vec4(cross((" + s(0) + ").xyz, (" + s(1) + ").xyz), 0.0)"; break;
    case D3DSIO_SGN: *value = "sign(" + s(0) + ")"; break;
    case D3DSIO_ABS: *value = "abs(" + s(0) + ")"; break;
    case D3DSIO_NRM:
        *value = "(" + s(0) + " * qrv_rsq(dot((" + s(0) + ").xyz, (" + s(0) + ").xyz)))";
        break;
    case D3DSIO_SINCOS: *value = "vec4(cos(" + scalar(0) + "), sin(" + scalar(0) + "), 0.0, 0.0)"; break;
    case D3DSIO_CMP:
        *value = "mix(" + s(2) + ", " + s(1) + ", greaterThanEqual(" + s(0) + ", vec4(0.0)))";
        break;
    case D3DSIO_CND:
        if (pixel1x_ && minor_ < 4) {
            *value = "((" + s(0) + ").w > 0.5 ? " + s(1) + " : " + s(2) + ")";
        } else {
            *value = "mix(" + s(2) + ", " + s(1) + ", greaterThan(" + s(0) + ", vec4(0.5)))";
        }
        break;
    case D3DSIO_DP2ADD: *value = "vec4(dot((" + s(0) + ").xy, (" + s(1) + ").xy) + (" + s(2) + ").x)"; break;
    case D3DSIO_TEXCOORD:
        if (minor_ >= 4) {
            *value = s(0); // texcrd: the coordinates as they are
        } else {
            *value = "vec4(clamp(" + TextureCoordinate(ins.destination.number) + ".xyz, 0.0, 1.0), 1.0)";
        }
        break;
    case D3DSIO_TEX:
        if (major_ >= 2) {
            std::string c = s(0);
            uint16_t stage = ins.sources[1].number;
            if (ins.control == kTexldProject) {
                *value = Sample(stage, "(" + c + ").xy / (" + c + ").w");
            } else if (ins.control == kTexldBias) {
                samplers_ |= 1u << stage;
                *value = "texture(qrv_s" + std::to_string(stage) + ", (" + c + ").xy, (" + c + ").w)";
            } else {
                *value = Sample(stage, "(" + c + ").xy");
            }
        } else if (minor_ >= 4) {
            *value = Sample(ins.destination.number, "(" + s(0) + ").xy");
        } else {
            *value = Sample(ins.destination.number, TextureCoordinate(ins.destination.number) + ".xy");
        }
        break;
    default: {
        const char *name = ShaderOpcodeName(version_, ins.opcode);
        *error = std::string("'") + (name ? name : "?") + "' is not supported in " + ShaderVersionName(version_) +
                 " by this layer";
        return false;
    }
    }
    return true;
}

// Applies an instruction's result modifiers and write mask to its value.
std::string Translator::Store(const ShaderInstruction &ins, const std::string &value) {
    const DestinationParameter &d = ins.destination;
    std::string v = value;
    static const char *const kScale[] = {"0.125", "0.25", "0.5", "", "2.0", "4.0", "8.0"};
    if (d.shift >= -3 && d.shift <= 3 && d.shift != 0) v = "(" + v + " * " + kScale[d.shift + 3] + ")";
    bool sampled = ins.opcode == D3DSIO_TEX || (ins.opcode == D3DSIO_TEXCOORD && minor_ < 4);
    if (d.modifiers & kResultSaturate) {
        v = "clamp(" + v + ", 0.0, 1.0)";
    } else if (pixel1x_ && !sampled) {
        std::string range = FloatLiteral(kPixelShader1xMaxValue);
        v = "clamp(" + v + ", -" + range + ", " + range + ")";
    }
    uint8_t mask = d.writeMask;
    switch (ins.opcode) {
    case D3DSIO_M4x3:
    case D3DSIO_M3x3:
    case D3DSIO_CRS: mask &= 0x7; break;
    case D3DSIO_M3x2:
    case D3DSIO_SINCOS: mask &= 0x3; break;
    default: break;
    }
    if (mask == 0) return "";
    std::string target = Destination(d);
    if (vertex_ && d.type == D3DSPR_ADDR) {
        // vs_1_1 mov takes the floor; vs_2_0 mova rounds to nearest, halves away from 0.
        std::string rounded = ins.opcode == D3DSIO_MOVA ? "(sign(" + v + ") * floor(abs(" + v + ") + 0.5))"
                                                        : "floor(" + v + ")";
        if (mask == 0xF) return "a0 = ivec4(" + rounded + ");";
        return "a0" + MaskSuffix(mask) + " = ivec4(" + rounded + ")" + MaskSuffix(mask) + ";";
    }
    if (mask == 0xF) return target + " = " + v + ";";
    return target + MaskSuffix(mask) + " = (" + v + ")" + MaskSuffix(mask) + ";";
}

bool Translator::Statement(const ShaderInstruction &ins, std::string *error) {
    switch (ins.opcode) {
    case D3DSIO_COMMENT:
    case D3DSIO_DCL:
    case D3DSIO_DEF:
    case D3DSIO_DEFI:
    case D3DSIO_DEFB:
    case D3DSIO_NOP:
    case D3DSIO_PHASE: return true;
    case D3DSIO_TEXKILL: {
        const DestinationParameter &d = ins.destination;
        std::string x;
        if (d.type == D3DSPR_TEMP) {
            temps_ |= 1u << d.number;
            x = "r" + std::to_string(d.number);
        } else {
            x = TextureCoordinate(d.number);
        }
        uint8_t mask = major_ >= 2 ? d.writeMask : 0x7;
        std::string components = MaskSuffix(mask).substr(1);
        if (components.size() == 1) {
            body_ += "    if (" + x + "." + components + " < 0.0) discard;\n";
        } else {
            body_ += "    if (any(lessThan(" + x + "." + components + ", vec" + std::to_string(components.size()) +
                     "(0.0)))) discard;\n";
        }
        return true;
    }
    default: break;
    }
    std::string value;
    if (!Value(ins, &value, error)) return false;
    std::string store = Store(ins, value);
    if (!store.empty()) body_ += "    " + store + "\n";
    return true;
}

std::string Translator::Assemble() {
    std::string g = "#version 330 core\n// " + ShaderVersionName(version_) + "\n";
    std::string flat = flat_ ? "flat " : "";
    if (vertex_) {
        for (const ShaderInput &input : inputs_) {
            g += "layout(location = " + std::to_string(input.reg) + ") in vec4 qrv_v" + std::to_string(input.reg) + ";\n";
        }
        g += "uniform vec4 qrv_c[" + std::to_string(kVertexConstants) + "];\n";
        g += "uniform vec2 qrv_pixelOffset;\n";
        g += flat + "out vec4 qrv_d0;\n" + flat + "out vec4 qrv_d1;\n";
        for (int i = 0; i < 8; ++i) g += "out vec4 qrv_t" + std::to_string(i) + ";\n";
    } else {
        for (int i = 0; i < 2; ++i) {
            if (colourInputs_ & (1u << i)) g += flat + "in vec4 qrv_d" + std::to_string(i) + ";\n";
        }
        for (int i = 0; i < 8; ++i) {
            if (texcoordInputs_ & (1u << i)) g += "in vec4 qrv_t" + std::to_string(i) + ";\n";
        }
        g += "uniform vec4 qrv_pc[" + std::to_string(kPixelConstants) + "];\n";
        for (int i = 0; i < 16; ++i) {
            if (samplers_ & (1u << i)) g += "uniform sampler2D qrv_s" + std::to_string(i) + ";\n";
        }
        g += "layout(location = 0) out vec4 qrv_color;\n";
    }
    for (const auto &definition : definitions_) g += "vec4 qrv_def" + std::to_string(definition.first) + ";\n";

    g += "float qrv_inf() { return uintBitsToFloat(0x7F800000u); }\n"
         "float qrv_rcp(float x) { return x == 0.0 ? qrv_inf() : (x == 1.0 ? 1.0 : 1.0 / x); }\n"
         "float qrv_rsq(float x) { x = abs(x); return x == 0.0 ? qrv_inf() : (x == 1.0 ? 1.0 : inversesqrt(x)); }\n"
         "float qrv_log(float x) { x = abs(x); return x == 0.0 ? -qrv_inf() : log2(x); }\n";
    if (vertex_) {
        g += "vec4 qrv_lit(vec4 s) {\n"
             "    vec4 d = vec4(1.0, 0.0, 0.0, 1.0);\n"
             "    if (s.x > 0.0) {\n"
             "        d.y = s.x;\n"
             "        if (s.y > 0.0) d.z = pow(s.y, clamp(s.w, -127.9961, 127.9961));\n"
             "    }\n"
             "    return d;\n"
             "}\n"
             "vec4 qrv_expp(float v) { float f = floor(v); return vec4(exp2(f), v - f, exp2(v), 1.0); }\n"
             "vec4 qrv_logp(float v) {\n"
             "    v = abs(v);\n"
             "    if (v == 0.0) return vec4(-qrv_inf(), 1.0, -qrv_inf(), 1.0);\n"
             "    uint bits = floatBitsToUint(v);\n"
             "    float e = float(int((bits >> 23) & 0xFFu) - 127);\n"
             "    float m = uintBitsToFloat((bits & 0x7FFFFFu) | 0x3F800000u);\n"
             "    return vec4(e, m, log2(v), 1.0);\n"
             "}\n";
        if (relative_) {
            g += "vec4 qrv_crel(int i) {\n";
            for (const auto &definition : definitions_) {
                std::string n = std::to_string(definition.first);
                g += "    if (i == " + n + ") return qrv_def" + n + ";\n";
            }
            g += "    return (i >= 0 && i < " + std::to_string(kVertexConstants) + ") ? qrv_c[clamp(i, 0, " +
                 std::to_string(kVertexConstants - 1) + ")] : vec4(0.0);\n}\n";
        }
    }

    g += "void main() {\n";
    for (const auto &definition : definitions_) {
        const auto &v = definition.second;
        g += "    qrv_def" + std::to_string(definition.first) + " = vec4(" + FloatLiteral(v[0]) + ", " +
             FloatLiteral(v[1]) + ", " + FloatLiteral(v[2]) + ", " + FloatLiteral(v[3]) + ");\n";
    }
    for (int i = 0; i < 32; ++i) {
        if (temps_ & (1u << i)) g += "    vec4 r" + std::to_string(i) + " = vec4(0.0);\n";
    }
    for (int i = 0; i < 32; ++i) {
        if (textureLocals_ & (1u << i)) g += "    vec4 t" + std::to_string(i) + " = vec4(0.0);\n";
    }
    if (vertex_) {
        if (address_) g += "    ivec4 a0 = ivec4(0);\n";
        g += "    vec4 o_pos = vec4(0.0);\n    vec4 o_fog = vec4(0.0);\n    vec4 o_pts = vec4(0.0);\n"
             "    vec4 o_d0 = vec4(1.0);\n    vec4 o_d1 = vec4(0.0);\n";
        for (int i = 0; i < 8; ++i) g += "    vec4 o_t" + std::to_string(i) + " = vec4(0.0);\n";
    } else if (!pixel1x_) {
        for (int i = 0; i < 4; ++i) g += "    vec4 o_c" + std::to_string(i) + " = vec4(0.0);\n";
        g += "    vec4 o_depth = vec4(0.0);\n";
    }
    g += body_;
    if (vertex_) {
        g += "    gl_Position = o_pos;\n"
             "    gl_Position.xy += qrv_pixelOffset * gl_Position.w;\n"
             "    qrv_d0 = clamp(o_d0, 0.0, 1.0);\n"
             "    qrv_d1 = clamp(o_d1, 0.0, 1.0);\n";
        for (int i = 0; i < 8; ++i) g += "    qrv_t" + std::to_string(i) + " = o_t" + std::to_string(i) + ";\n";
        if (pointSizeWritten_) g += "    gl_PointSize = o_pts.x;\n";
    } else if (pixel1x_) {
        g += "    qrv_color = r0;\n";
    } else {
        g += "    qrv_color = o_c0;\n";
        if (depthWritten_) g += "    gl_FragDepth = clamp(o_depth.x, 0.0, 1.0);\n";
    }
    g += "}\n";
    return g;
}

bool Translator::Run(TranslatedShader *out, std::string *error) {
    if (!Collect(error)) return false;
    if (pixel1x_) temps_ |= 1u; // r0 is the colour a ps_1_x shader leaves
    // Comments take no part, not even between a co-issued pair.
    std::vector<ShaderInstruction> instructions;
    for (const ShaderInstruction &ins : program_.instructions) {
        if (ins.opcode != D3DSIO_COMMENT) instructions.push_back(ins);
    }
    for (size_t i = 0; i < instructions.size(); ++i) {
        bool pair = i + 1 < instructions.size() && instructions[i + 1].coissue;
        if (!pair) {
            if (!Statement(instructions[i], error)) return false;
            continue;
        }
        // A co-issued pair reads its sources before either writes.
        std::string first, second;
        if (!Value(instructions[i], &first, error) || !Value(instructions[i + 1], &second, error)) return false;
        body_ += "    {\n        vec4 qrv_first = " + first + ";\n        vec4 qrv_second = " + second + ";\n";
        std::string a = Store(instructions[i], "qrv_first");
        std::string b = Store(instructions[i + 1], "qrv_second");
        if (!a.empty()) body_ += "        " + a + "\n";
        if (!b.empty()) body_ += "        " + b + "\n";
        body_ += "    }\n";
        ++i;
    }
    out->pixel = !vertex_;
    out->version = version_;
    out->glsl = Assemble();
    out->inputs = inputs_;
    out->samplerMask = vertex_ ? 0 : samplers_;
    out->tokenCount = program_.tokenCount;
    return true;
}

} // namespace

bool TranslateShader(const DWORD *tokens, size_t maxTokens, bool flatColour, TranslatedShader *out,
                     std::string *error) {
    std::string scratch;
    if (!error) error = &scratch;
    if (!out) {
        *error = "no place for the translated shader";
        return false;
    }
    ShaderProgram program;
    if (!Decode(tokens, maxTokens, &program, error)) return false;
    if (!IsSupportedShaderVersion(program.version)) {
        *error = "shader version " + ShaderVersionName(program.version) + " is not supported";
        return false;
    }
    if (!ValidateShader(program, error)) return false;
    TranslatedShader result;
    Translator translator(program, flatColour);
    if (!translator.Run(&result, error)) return false;
    *out = std::move(result);
    return true;
}

} // namespace qrv::d3d9
