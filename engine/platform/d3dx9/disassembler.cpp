// The shader disassembler: tokens to the assembly text the assembler reads back.
#include <cstdio>
#include <cstring>

#include "assembler.h"
#include "platform/d3d9/shader_code.h"

using namespace qrv::d3d9;

namespace {

const char kComponents[] = "xyzw";

std::string Mask(uint8_t mask) {
    if (mask == 0xF) return "";
    std::string text = ".";
    for (int i = 0; i < 4; ++i) {
        if (mask & (1u << i)) text += kComponents[i];
    }
    return text;
}

std::string Swizzle(uint8_t swizzle) {
    if (swizzle == kIdentitySwizzle) return "";
    std::string text = ".";
    for (int i = 0; i < 4; ++i) text += kComponents[(swizzle >> (2 * i)) & 3];
    if (text[1] == text[2] && text[1] == text[3] && text[1] == text[4]) text.resize(2);
    return text;
}

std::string FloatText(DWORD bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    char text[48];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

class Writer {
public:
    explicit Writer(DWORD version) : version_(version) {}

    std::string Instruction(const ShaderInstruction &ins) const;

private:
    std::string Name(uint8_t type, uint16_t number) const { return ShaderRegisterName(version_, type, number); }
    std::string Destination(const DestinationParameter &d) const { return Name(d.type, d.number) + Mask(d.writeMask); }
    std::string Source(const SourceParameter &s) const;
    std::string Declaration(const ShaderInstruction &ins) const;

    DWORD version_;
};

std::string Writer::Source(const SourceParameter &s) const {
    std::string prefix, suffix;
    switch (s.modifier) {
    case D3DSPSM_NEG: prefix = "-"; break;
    case D3DSPSM_BIAS: suffix = "_bias"; break;
    case D3DSPSM_BIASNEG: prefix = "-"; suffix = "_bias"; break;
    case D3DSPSM_SIGN: suffix = "_bx2"; break;
    case D3DSPSM_SIGNNEG: prefix = "-"; suffix = "_bx2"; break;
    case D3DSPSM_COMP: prefix = "1-"; break;
    case D3DSPSM_X2: suffix = "_x2"; break;
    case D3DSPSM_X2NEG: prefix = "-"; suffix = "_x2"; break;
    case D3DSPSM_DZ: suffix = "_dz"; break;
    case D3DSPSM_DW: suffix = "_dw"; break;
    case D3DSPSM_ABS: suffix = "_abs"; break;
    case D3DSPSM_ABSNEG: prefix = "-"; suffix = "_abs"; break;
    case D3DSPSM_NONE: break;
    default: suffix = "_modifier" + std::to_string(s.modifier); break;
    }
    std::string reg;
    if (s.relative) {
        std::string address = s.address.type == D3DSPR_LOOP
                                  ? "aL"
                                  : "a" + std::to_string(s.address.number) + "." + kComponents[s.address.component & 3];
        reg = Name(s.type, 0);
        reg.erase(reg.find_last_not_of("0123456789") + 1);
        reg += "[" + address + (s.number ? " + " + std::to_string(s.number) : "") + "]";
    } else {
        reg = Name(s.type, s.number);
    }
    return prefix + reg + suffix + Swizzle(s.swizzle);
}

std::string Writer::Declaration(const ShaderInstruction &ins) const {
    static constexpr const char *kUsages[] = {"position", "blendweight", "blendindices", "normal",
                                              "psize",    "texcoord",    "tangent",      "binormal",
                                              "tessfactor", "positiont", "color",        "fog",
                                              "depth",    "sample"};
    const DestinationParameter &d = ins.destination;
    std::string name = "dcl";
    if (d.type == D3DSPR_SAMPLER) {
        switch (ins.SamplerType()) {
        case D3DSTT_2D: name += "_2d"; break;
        case D3DSTT_CUBE: name += "_cube"; break;
        case D3DSTT_VOLUME: name += "_volume"; break;
        default: break;
        }
    } else if (IsVertexShaderVersion(version_)) {
        uint8_t usage = ins.Usage();
        name += "_";
        name += usage < std::size(kUsages) ? kUsages[usage] : "usage" + std::to_string(usage);
        if (ins.UsageIndex()) name += std::to_string(ins.UsageIndex());
    }
    if (d.modifiers & kResultPartialPrecision) name += "_pp";
    if (d.modifiers & kResultCentroid) name += "_centroid";
    return name + " " + Destination(d);
}

std::string Writer::Instruction(const ShaderInstruction &ins) const {
    if (ins.opcode == D3DSIO_COMMENT) return "// comment of " + std::to_string(ins.comment.size()) + " tokens";
    if (ins.opcode == D3DSIO_DCL) return Declaration(ins);
    const char *known = ShaderOpcodeName(version_, ins.opcode);
    std::string name = known ? known : "opcode" + std::to_string(ins.opcode);
    if (ins.opcode == D3DSIO_DEF || ins.opcode == D3DSIO_DEFI || ins.opcode == D3DSIO_DEFB) {
        std::string text = name + " " + Destination(ins.destination);
        size_t count = ins.opcode == D3DSIO_DEFB ? 1 : 4;
        for (size_t i = 0; i < count; ++i) {
            text += ", ";
            if (ins.opcode == D3DSIO_DEF) text += FloatText(ins.values[i]);
            else if (ins.opcode == D3DSIO_DEFI) text += std::to_string(static_cast<int32_t>(ins.values[i]));
            else text += ins.values[i] ? "true" : "false";
        }
        return text;
    }
    if (ins.opcode == D3DSIO_TEX && ins.control == kTexldProject) name = "texldp";
    if (ins.opcode == D3DSIO_TEX && ins.control == kTexldBias) name = "texldb";
    std::string text = ins.coissue ? "+" : "";
    text += name;
    if (ins.hasDestination) {
        static const char *const kShift[] = {"_d8", "_d4", "_d2", "", "_x2", "_x4", "_x8"};
        int8_t shift = ins.destination.shift;
        if (shift >= -3 && shift <= 3) text += kShift[shift + 3];
        if (ins.destination.modifiers & kResultSaturate) text += "_sat";
        if (ins.destination.modifiers & kResultPartialPrecision) text += "_pp";
        if (ins.destination.modifiers & kResultCentroid) text += "_centroid";
    }
    std::string operands;
    if (ins.hasDestination) operands = Destination(ins.destination);
    for (unsigned i = 0; i < ins.sourceCount; ++i) {
        if (!operands.empty()) operands += ", ";
        operands += Source(ins.sources[i]);
    }
    return operands.empty() ? text : text + " " + operands;
}

} // namespace

namespace qrv::d3dx9 {

bool DisassembleShader(const DWORD *tokens, size_t maxTokens, std::string *text, std::string *error) {
    std::string scratch;
    if (!error) error = &scratch;
    ShaderProgram program;
    if (!Decode(tokens, maxTokens, &program, error)) return false;
    Writer writer(program.version);
    std::string out = ShaderVersionName(program.version) + "\n";
    for (const ShaderInstruction &ins : program.instructions) out += writer.Instruction(ins) + "\n";
    if (text) *text = std::move(out);
    return true;
}

} // namespace qrv::d3dx9
