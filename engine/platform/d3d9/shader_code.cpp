// Direct3D 9 shader tokens: decoding, encoding and the rules of each version.
#include "shader_code.h"

#include <cstdio>

namespace qrv::d3d9 {
namespace {

// One bit per supported shader version.
enum : uint8_t {
    kVs11 = 1,
    kVs20 = 2,
    kPs11 = 4,
    kPs12 = 8,
    kPs13 = 16,
    kPs14 = 32,
    kPs20 = 64,
    kVs = kVs11 | kVs20,
    kPs1x3 = kPs11 | kPs12 | kPs13,
    kPs1x = kPs1x3 | kPs14,
    kPs = kPs1x | kPs20,
    kAll = kVs | kPs,
    kNone = 0,
};

uint8_t VersionBit(DWORD version) {
    if (IsVertexShaderVersion(version)) {
        if (version == 0xFFFE0101u) return kVs11;
        if (version == 0xFFFE0200u) return kVs20;
        return 0;
    }
    if (IsPixelShaderVersion(version)) {
        switch (version & 0xFFFFu) {
        case 0x0101: return kPs11;
        case 0x0102: return kPs12;
        case 0x0103: return kPs13;
        case 0x0104: return kPs14;
        case 0x0200: return kPs20;
        default: return 0;
        }
    }
    return 0;
}

// An opcode, its assembler name, its operands (sources -1: depends on the
// version, see ShaderOperandCounts; destinations -1: a layout of its own) and
// the versions that have it.
struct OpcodeInfo {
    uint16_t opcode;
    const char *name;
    int8_t destinations;
    int8_t sources;
    uint8_t versions;
};

constexpr OpcodeInfo kOpcodes[] = {
    {D3DSIO_NOP, "nop", 0, 0, kAll},
    {D3DSIO_MOV, "mov", 1, 1, kAll},
    {D3DSIO_ADD, "add", 1, 2, kAll},
    {D3DSIO_SUB, "sub", 1, 2, kAll},
    {D3DSIO_MAD, "mad", 1, 3, kAll},
    {D3DSIO_MUL, "mul", 1, 2, kAll},
    {D3DSIO_RCP, "rcp", 1, 1, kVs | kPs20},
    {D3DSIO_RSQ, "rsq", 1, 1, kVs | kPs20},
    {D3DSIO_DP3, "dp3", 1, 2, kAll},
    {D3DSIO_DP4, "dp4", 1, 2, kVs | kPs12 | kPs13 | kPs14 | kPs20},
    {D3DSIO_MIN, "min", 1, 2, kVs | kPs20},
    {D3DSIO_MAX, "max", 1, 2, kVs | kPs20},
    {D3DSIO_SLT, "slt", 1, 2, kVs},
    {D3DSIO_SGE, "sge", 1, 2, kVs},
    {D3DSIO_EXP, "exp", 1, 1, kVs | kPs20},
    {D3DSIO_LOG, "log", 1, 1, kVs | kPs20},
    {D3DSIO_LIT, "lit", 1, 1, kVs},
    {D3DSIO_DST, "dst", 1, 2, kVs},
    {D3DSIO_LRP, "lrp", 1, 3, kVs20 | kPs},
    {D3DSIO_FRC, "frc", 1, 1, kVs | kPs20},
    {D3DSIO_M4x4, "m4x4", 1, 2, kVs | kPs20},
    {D3DSIO_M4x3, "m4x3", 1, 2, kVs | kPs20},
    {D3DSIO_M3x4, "m3x4", 1, 2, kVs | kPs20},
    {D3DSIO_M3x3, "m3x3", 1, 2, kVs | kPs20},
    {D3DSIO_M3x2, "m3x2", 1, 2, kVs | kPs20},
    {D3DSIO_CALL, "call", 0, 1, kVs20},
    {D3DSIO_CALLNZ, "callnz", 0, 2, kVs20},
    {D3DSIO_LOOP, "loop", 0, 2, kVs20},
    {D3DSIO_RET, "ret", 0, 0, kVs20},
    {D3DSIO_ENDLOOP, "endloop", 0, 0, kVs20},
    {D3DSIO_LABEL, "label", 0, 1, kVs20},
    {D3DSIO_DCL, "dcl", -1, 0, kVs | kPs20},
    {D3DSIO_POW, "pow", 1, 2, kVs20 | kPs20},
    {D3DSIO_CRS, "crs", 1, 2, kVs20 | kPs20},
    {D3DSIO_SGN, "sgn", 1, 3, kVs20},
    {D3DSIO_ABS, "abs", 1, 1, kVs20 | kPs20},
    {D3DSIO_NRM, "nrm", 1, 1, kVs20 | kPs20},
    {D3DSIO_SINCOS, "sincos", 1, -1, kVs20 | kPs20},
    {D3DSIO_REP, "rep", 0, 1, kVs20},
    {D3DSIO_ENDREP, "endrep", 0, 0, kVs20},
    {D3DSIO_IF, "if", 0, 1, kVs20},
    {D3DSIO_IFC, "ifc", 0, 2, kNone},
    {D3DSIO_ELSE, "else", 0, 0, kVs20},
    {D3DSIO_ENDIF, "endif", 0, 0, kVs20},
    {D3DSIO_BREAK, "break", 0, 0, kNone},
    {D3DSIO_BREAKC, "breakc", 0, 2, kNone},
    {D3DSIO_MOVA, "mova", 1, 1, kVs20},
    {D3DSIO_DEFB, "defb", -1, 0, kVs20},
    {D3DSIO_DEFI, "defi", -1, 0, kVs20},
    {D3DSIO_TEXCOORD, "texcoord", 1, -1, kPs1x},
    {D3DSIO_TEXKILL, "texkill", 1, 0, kPs},
    {D3DSIO_TEX, "tex", 1, -1, kPs},
    {D3DSIO_TEXBEM, "texbem", 1, 1, kPs1x3},
    {D3DSIO_TEXBEML, "texbeml", 1, 1, kPs1x3},
    {D3DSIO_TEXREG2AR, "texreg2ar", 1, 1, kPs1x3},
    {D3DSIO_TEXREG2GB, "texreg2gb", 1, 1, kPs1x3},
    {D3DSIO_TEXM3x2PAD, "texm3x2pad", 1, 1, kPs1x3},
    {D3DSIO_TEXM3x2TEX, "texm3x2tex", 1, 1, kPs1x3},
    {D3DSIO_TEXM3x3PAD, "texm3x3pad", 1, 1, kPs1x3},
    {D3DSIO_TEXM3x3TEX, "texm3x3tex", 1, 1, kPs1x3},
    {D3DSIO_TEXM3x3SPEC, "texm3x3spec", 1, 2, kPs1x3},
    {D3DSIO_TEXM3x3VSPEC, "texm3x3vspec", 1, 1, kPs1x3},
    {D3DSIO_EXPP, "expp", 1, 1, kVs},
    {D3DSIO_LOGP, "logp", 1, 1, kVs},
    {D3DSIO_CND, "cnd", 1, 3, kPs1x},
    {D3DSIO_DEF, "def", -1, 0, kAll},
    {D3DSIO_TEXREG2RGB, "texreg2rgb", 1, 1, kPs12 | kPs13},
    {D3DSIO_TEXDP3TEX, "texdp3tex", 1, 1, kPs12 | kPs13},
    {D3DSIO_TEXM3x2DEPTH, "texm3x2depth", 1, 1, kPs13},
    {D3DSIO_TEXDP3, "texdp3", 1, 1, kPs12 | kPs13},
    {D3DSIO_TEXM3x3, "texm3x3", 1, 1, kPs12 | kPs13},
    {D3DSIO_TEXDEPTH, "texdepth", 1, 0, kPs14},
    {D3DSIO_CMP, "cmp", 1, 3, kPs12 | kPs13 | kPs14 | kPs20},
    {D3DSIO_BEM, "bem", 1, 2, kPs14},
    {D3DSIO_DP2ADD, "dp2add", 1, 3, kPs20},
    {D3DSIO_DSX, "dsx", 1, 1, kNone},
    {D3DSIO_DSY, "dsy", 1, 1, kNone},
    {D3DSIO_TEXLDD, "texldd", 1, 4, kNone},
    {D3DSIO_SETP, "setp", 1, 2, kNone},
    {D3DSIO_TEXLDL, "texldl", 1, 2, kNone},
    {D3DSIO_BREAKP, "breakp", 0, 1, kNone},
    {D3DSIO_PHASE, "phase", 0, 0, kPs14},
};

const OpcodeInfo *FindOpcode(uint16_t opcode) {
    for (const OpcodeInfo &info : kOpcodes) {
        if (info.opcode == opcode) return &info;
    }
    return nullptr;
}

bool IsTextureOpcode(uint16_t opcode) {
    return opcode == D3DSIO_TEXCOORD || opcode == D3DSIO_TEXKILL || opcode == D3DSIO_TEX ||
           (opcode >= D3DSIO_TEXBEM && opcode <= D3DSIO_TEXM3x3VSPEC) ||
           (opcode >= D3DSIO_TEXREG2RGB && opcode <= D3DSIO_TEXDEPTH);
}

std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// ---- Parameter tokens ---------------------------------------------------------------
uint8_t RegisterTypeOf(DWORD token) {
    return static_cast<uint8_t>(((token >> 28) & 0x7u) | ((token >> 8) & 0x18u));
}

DWORD RegisterBits(uint8_t type, uint16_t number) {
    return kParameterBit | ((static_cast<DWORD>(type) & 0x7u) << 28) |
           ((static_cast<DWORD>(type) & 0x18u) << 8) | (number & 0x7FFu);
}

DWORD ShiftBits(int8_t shift) { return (static_cast<DWORD>(shift) & 0xFu) << 24; }

int8_t ShiftOf(DWORD token) {
    int value = static_cast<int>((token >> 24) & 0xFu);
    return static_cast<int8_t>(value >= 8 ? value - 16 : value);
}

class TokenReader {
public:
    TokenReader(const DWORD *tokens, size_t count) : tokens_(tokens), count_(count) {}
    bool Next(DWORD *token) {
        if (position_ >= count_) return false;
        *token = tokens_[position_++];
        return true;
    }
    size_t Position() const { return position_; }
    size_t Remaining() const { return count_ - position_; }

private:
    const DWORD *tokens_;
    size_t count_;
    size_t position_ = 0;
};

bool ReadDestination(TokenReader &reader, DestinationParameter *dst, std::string *error) {
    DWORD token;
    if (!reader.Next(&token)) {
        *error = "the token stream ends inside an instruction";
        return false;
    }
    if (!(token & kParameterBit)) {
        *error = "expected a destination parameter token, found " + Hex(token);
        return false;
    }
    if (token & (kRelativeBit | 0xC000u)) {
        *error = "destination parameter " + Hex(token) + " uses reserved or relative-address bits";
        return false;
    }
    dst->type = RegisterTypeOf(token);
    dst->number = static_cast<uint16_t>(token & 0x7FFu);
    dst->writeMask = static_cast<uint8_t>((token >> 16) & 0xFu);
    dst->modifiers = static_cast<uint8_t>((token >> 20) & 0xFu);
    dst->shift = ShiftOf(token);
    return true;
}

bool ReadSource(TokenReader &reader, DWORD version, SourceParameter *src, std::string *error) {
    DWORD token;
    if (!reader.Next(&token)) {
        *error = "the token stream ends inside an instruction";
        return false;
    }
    if (!(token & kParameterBit)) {
        *error = "expected a source parameter token, found " + Hex(token);
        return false;
    }
    if (token & 0xC000u) {
        *error = "source parameter " + Hex(token) + " uses reserved bits";
        return false;
    }
    src->type = RegisterTypeOf(token);
    src->number = static_cast<uint16_t>(token & 0x7FFu);
    src->swizzle = static_cast<uint8_t>((token >> 16) & 0xFFu);
    src->modifier = static_cast<uint8_t>((token >> 24) & 0xFu);
    src->relative = (token & kRelativeBit) != 0;
    src->address = RelativeAddress{};
    if (src->relative && ShaderMajor(version) >= 2) {
        // From version 2_0 on, the address register follows as a token of its own.
        DWORD address;
        if (!reader.Next(&address)) {
            *error = "the token stream ends inside an instruction";
            return false;
        }
        if (!(address & kParameterBit)) {
            *error = "expected a relative-address token, found " + Hex(address);
            return false;
        }
        src->address.type = RegisterTypeOf(address);
        src->address.number = static_cast<uint16_t>(address & 0x7FFu);
        src->address.component = static_cast<uint8_t>((address >> 16) & 3u);
    }
    return true;
}

size_t SourceTokens(DWORD version, const SourceParameter &src) {
    return (src.relative && ShaderMajor(version) >= 2) ? 2 : 1;
}

} // namespace

bool IsSupportedShaderVersion(DWORD version) { return VersionBit(version) != 0; }

std::string ShaderVersionName(DWORD version) {
    char text[32];
    std::snprintf(text, sizeof text, "%s_%u_%u", IsPixelShaderVersion(version) ? "ps" : "vs",
                  ShaderMajor(version), ShaderMinor(version));
    return text;
}

bool ShaderOperandCounts(DWORD version, uint16_t opcode, int *destinations, int *sources) {
    const OpcodeInfo *info = FindOpcode(opcode);
    if (!info || info->destinations < 0) return false;
    *destinations = info->destinations;
    *sources = info->sources;
    if (info->sources >= 0) return true;
    unsigned major = ShaderMajor(version);
    unsigned minor = ShaderMinor(version);
    switch (opcode) {
    case D3DSIO_TEX: *sources = major >= 2 ? 2 : (minor >= 4 ? 1 : 0); break;
    case D3DSIO_TEXCOORD: *sources = major >= 2 || minor >= 4 ? 1 : 0; break;
    case D3DSIO_SINCOS: *sources = major >= 3 ? 1 : 3; break;
    default: return false;
    }
    return true;
}

const char *ShaderOpcodeName(DWORD version, uint16_t opcode) {
    bool pixel14 = IsPixelShaderVersion(version) &&
                   (ShaderMajor(version) >= 2 || ShaderMinor(version) >= 4);
    if (opcode == D3DSIO_TEX && pixel14) return "texld";
    if (opcode == D3DSIO_TEXCOORD && pixel14) return "texcrd";
    const OpcodeInfo *info = FindOpcode(opcode);
    return info ? info->name : nullptr;
}

bool FindShaderOpcode(DWORD version, const std::string &name, uint16_t *opcode, uint8_t *control,
                      bool *available) {
    uint8_t bit = VersionBit(version);
    *control = 0;
    // Texture instructions go by different names in different versions.
    struct Alias {
        const char *name;
        uint16_t opcode;
        uint8_t control;
        uint8_t versions;
    };
    static constexpr Alias kAliases[] = {
        {"tex", D3DSIO_TEX, 0, kPs1x3},
        {"texld", D3DSIO_TEX, 0, kPs14 | kPs20},
        {"texldp", D3DSIO_TEX, kTexldProject, kPs20},
        {"texldb", D3DSIO_TEX, kTexldBias, kPs20},
        {"texcoord", D3DSIO_TEXCOORD, 0, kPs1x3},
        {"texcrd", D3DSIO_TEXCOORD, 0, kPs14},
    };
    for (const Alias &alias : kAliases) {
        if (name == alias.name) {
            *opcode = alias.opcode;
            *control = alias.control;
            *available = (alias.versions & bit) != 0;
            return true;
        }
    }
    for (const OpcodeInfo &info : kOpcodes) {
        if (name == info.name && info.opcode != D3DSIO_TEX && info.opcode != D3DSIO_TEXCOORD) {
            *opcode = info.opcode;
            *available = (info.versions & bit) != 0;
            return true;
        }
    }
    return false;
}

bool Decode(const DWORD *tokens, size_t maxTokens, ShaderProgram *program, std::string *error) {
    std::string scratch;
    if (!error) error = &scratch;
    *program = ShaderProgram{};
    if (!tokens || maxTokens == 0) {
        *error = "no shader tokens";
        return false;
    }
    TokenReader reader(tokens, maxTokens);
    DWORD version;
    reader.Next(&version);
    if (!IsVertexShaderVersion(version) && !IsPixelShaderVersion(version)) {
        *error = "the first token " + Hex(version) + " is not a shader version token";
        return false;
    }
    program->version = version;
    bool modern = ShaderMajor(version) >= 2;
    for (;;) {
        size_t start = reader.Position();
        DWORD token;
        if (!reader.Next(&token)) {
            *error = "the token stream has no end token";
            return false;
        }
        if (token == kShaderEndToken) break;
        ShaderInstruction ins;
        ins.opcode = static_cast<uint16_t>(token & 0xFFFFu);
        if (ins.opcode == D3DSIO_COMMENT) {
            DWORD size = (token >> 16) & 0x7FFFu;
            if (token & kParameterBit) {
                *error = "comment token " + Hex(token) + " has bit 31 set";
                return false;
            }
            if (size > reader.Remaining()) {
                *error = "a comment runs past the end of the token stream";
                return false;
            }
            ins.comment.resize(size);
            for (DWORD i = 0; i < size; ++i) reader.Next(&ins.comment[i]);
            program->instructions.push_back(std::move(ins));
            continue;
        }
        if (token & kParameterBit) {
            *error = "expected an instruction token at token " + std::to_string(start) + ", found " +
                     Hex(token);
            return false;
        }
        if (token & kPredicatedBit) {
            *error = "predicated instructions are not supported";
            return false;
        }
        if (token & 0x20000000u) {
            *error = "instruction token " + Hex(token) + " sets reserved bit 29";
            return false;
        }
        bool pixel1x = IsPixelShaderVersion(version) && !modern;
        ins.coissue = (token & kCoissueBit) != 0;
        if (ins.coissue && !pixel1x) {
            *error = "co-issue is only for ps_1_x";
            return false;
        }
        DWORD length = (token >> 24) & 0xFu;
        if (!modern && length != 0) {
            *error = "instruction token " + Hex(token) + " carries a length before version 2_0";
            return false;
        }
        ins.control = static_cast<uint8_t>((token >> 16) & 0xFFu);
        const OpcodeInfo *info = FindOpcode(ins.opcode);
        if (!info) {
            *error = "unknown opcode " + std::to_string(ins.opcode);
            return false;
        }
        size_t operands = 0;
        if (ins.opcode == D3DSIO_DCL) {
            if (!reader.Next(&ins.declaration)) {
                *error = "the token stream ends inside a dcl";
                return false;
            }
            if (!(ins.declaration & kParameterBit)) {
                *error = "dcl token " + Hex(ins.declaration) + " lacks bit 31";
                return false;
            }
            ins.hasDestination = true;
            if (!ReadDestination(reader, &ins.destination, error)) return false;
            operands = 2;
        } else if (ins.opcode == D3DSIO_DEF || ins.opcode == D3DSIO_DEFI ||
                   ins.opcode == D3DSIO_DEFB) {
            ins.hasDestination = true;
            if (!ReadDestination(reader, &ins.destination, error)) return false;
            size_t count = ins.opcode == D3DSIO_DEFB ? 1 : 4;
            for (size_t i = 0; i < count; ++i) {
                if (!reader.Next(&ins.values[i])) {
                    *error = "the token stream ends inside a definition";
                    return false;
                }
            }
            operands = 1 + count;
        } else {
            int destinations = 0, sources = 0;
            ShaderOperandCounts(version, ins.opcode, &destinations, &sources);
            ins.hasDestination = destinations == 1;
            if (ins.hasDestination) {
                if (!ReadDestination(reader, &ins.destination, error)) return false;
                operands = 1;
            }
            ins.sourceCount = static_cast<uint8_t>(sources);
            for (int i = 0; i < sources; ++i) {
                if (!ReadSource(reader, version, &ins.sources[i], error)) return false;
                operands += SourceTokens(version, ins.sources[i]);
            }
        }
        if (modern && length != operands) {
            *error = "instruction '" + std::string(ShaderOpcodeName(version, ins.opcode)) +
                     "' claims " + std::to_string(length) + " operand tokens but has " +
                     std::to_string(operands);
            return false;
        }
        program->instructions.push_back(std::move(ins));
    }
    program->tokenCount = reader.Position();
    return true;
}

std::vector<DWORD> Encode(const ShaderProgram &program) {
    std::vector<DWORD> tokens;
    tokens.push_back(program.version);
    bool modern = ShaderMajor(program.version) >= 2;
    for (const ShaderInstruction &ins : program.instructions) {
        if (ins.opcode == D3DSIO_COMMENT) {
            DWORD size = static_cast<DWORD>(ins.comment.size() & 0x7FFFu);
            tokens.push_back(D3DSIO_COMMENT | (size << 16));
            tokens.insert(tokens.end(), ins.comment.begin(), ins.comment.begin() + size);
            continue;
        }
        size_t head = tokens.size();
        tokens.push_back(0);
        if (ins.opcode == D3DSIO_DCL) tokens.push_back(ins.declaration | kParameterBit);
        if (ins.hasDestination) {
            const DestinationParameter &d = ins.destination;
            tokens.push_back(RegisterBits(d.type, d.number) |
                             (static_cast<DWORD>(d.writeMask & 0xFu) << 16) |
                             (static_cast<DWORD>(d.modifiers & 0xFu) << 20) | ShiftBits(d.shift));
        }
        if (ins.opcode == D3DSIO_DEF || ins.opcode == D3DSIO_DEFI) {
            tokens.insert(tokens.end(), ins.values.begin(), ins.values.end());
        } else if (ins.opcode == D3DSIO_DEFB) {
            tokens.push_back(ins.values[0]);
        }
        for (unsigned i = 0; i < ins.sourceCount && i < ins.sources.size(); ++i) {
            const SourceParameter &s = ins.sources[i];
            tokens.push_back(RegisterBits(s.type, s.number) | (static_cast<DWORD>(s.swizzle) << 16) |
                             (static_cast<DWORD>(s.modifier & 0xFu) << 24) |
                             (s.relative ? kRelativeBit : 0u));
            if (s.relative && modern) {
                tokens.push_back(RegisterBits(s.address.type, s.address.number) |
                                 (static_cast<DWORD>(s.address.component & 3u) * 0x55u << 16));
            }
        }
        DWORD length = modern ? static_cast<DWORD>(tokens.size() - head - 1) : 0;
        tokens[head] = ins.opcode | (static_cast<DWORD>(ins.control) << 16) | ((length & 0xFu) << 24) |
                       (ins.coissue ? kCoissueBit : 0u);
    }
    tokens.push_back(kShaderEndToken);
    return tokens;
}

// ---- Register names -----------------------------------------------------------------
std::string ShaderRegisterName(DWORD version, uint8_t type, uint16_t number) {
    bool vertex = IsVertexShaderVersion(version);
    std::string n = std::to_string(number);
    switch (type) {
    case D3DSPR_TEMP: return "r" + n;
    case D3DSPR_INPUT: return "v" + n;
    case D3DSPR_CONST: return "c" + n;
    case D3DSPR_ADDR: return vertex ? "a" + n : "t" + n;
    case D3DSPR_RASTOUT:
        if (number == kRastOutPosition) return "oPos";
        if (number == kRastOutFog) return "oFog";
        if (number == kRastOutPointSize) return "oPts";
        return "oRast" + n;
    case D3DSPR_ATTROUT: return "oD" + n;
    case D3DSPR_TEXCRDOUT: return "oT" + n;
    case D3DSPR_CONSTINT: return "i" + n;
    case D3DSPR_COLOROUT: return "oC" + n;
    case D3DSPR_DEPTHOUT: return "oDepth";
    case D3DSPR_SAMPLER: return "s" + n;
    case D3DSPR_CONSTBOOL: return "b" + n;
    case D3DSPR_LOOP: return "aL";
    case D3DSPR_LABEL: return "l" + n;
    case D3DSPR_PREDICATE: return "p" + n;
    default: return "register" + std::to_string(type) + "_" + n;
    }
}

// ---- Validation -----------------------------------------------------------------------
namespace {

struct RegisterRule {
    uint16_t count = 0;
    bool read = false;
    bool write = false;
};

RegisterRule RuleFor(DWORD version, uint8_t type) {
    uint8_t bit = VersionBit(version);
    if (bit & kVs) {
        switch (type) {
        case D3DSPR_TEMP: return {12, true, true};
        case D3DSPR_INPUT: return {16, true, false};
        case D3DSPR_CONST: return {256, true, false};
        case D3DSPR_ADDR: return {1, true, true};
        case D3DSPR_RASTOUT: return {3, false, true};
        case D3DSPR_ATTROUT: return {2, false, true};
        case D3DSPR_TEXCRDOUT: return {8, false, true};
        default: break;
        }
        if (bit == kVs20) {
            switch (type) {
            case D3DSPR_CONSTINT: return {16, true, false};
            case D3DSPR_CONSTBOOL: return {16, true, false};
            case D3DSPR_LOOP: return {1, true, false};
            case D3DSPR_LABEL: return {16, true, false};
            default: break;
            }
        }
        return {};
    }
    if (bit & kPs1x3) {
        switch (type) {
        case D3DSPR_CONST: return {8, true, false};
        case D3DSPR_TEMP: return {2, true, true};
        case D3DSPR_TEXTURE: return {4, true, true};
        case D3DSPR_INPUT: return {2, true, false};
        default: return {};
        }
    }
    if (bit == kPs14) {
        switch (type) {
        case D3DSPR_CONST: return {8, true, false};
        case D3DSPR_TEMP: return {6, true, true};
        case D3DSPR_TEXTURE: return {6, true, false};
        case D3DSPR_INPUT: return {2, true, false};
        default: return {};
        }
    }
    if (bit == kPs20) {
        switch (type) {
        case D3DSPR_CONST: return {32, true, false};
        case D3DSPR_TEMP: return {12, true, true};
        case D3DSPR_TEXTURE: return {8, true, false};
        case D3DSPR_INPUT: return {2, true, false};
        case D3DSPR_SAMPLER: return {16, true, false};
        case D3DSPR_COLOROUT: return {4, false, true};
        case D3DSPR_DEPTHOUT: return {1, false, true};
        default: return {};
        }
    }
    return {};
}

bool Fail(std::string *error, std::string message) {
    *error = std::move(message);
    return false;
}

// Registers a dcl must name before they are read: vertex inputs, and the
// texture-coordinate, colour and sampler registers of ps_2_0.
bool NeedsDeclaration(DWORD version, uint8_t type) {
    if (IsVertexShaderVersion(version)) return type == D3DSPR_INPUT;
    if (ShaderMajor(version) >= 2) {
        return type == D3DSPR_INPUT || type == D3DSPR_TEXTURE || type == D3DSPR_SAMPLER;
    }
    return false;
}

} // namespace

ShaderValidator::ShaderValidator(DWORD version)
    : version_(version), vertex_(IsVertexShaderVersion(version)), major_(ShaderMajor(version)),
      minor_(ShaderMinor(version)) {}

bool ShaderValidator::CheckDeclaration(const ShaderInstruction &ins, std::string *error) {
    const DestinationParameter &d = ins.destination;
    std::string name = ShaderRegisterName(version_, d.type, d.number);
    RegisterRule rule = RuleFor(version_, d.type);
    if (!NeedsDeclaration(version_, d.type) || d.number >= rule.count) {
        return Fail(error, "register " + name + " cannot be declared in " + ShaderVersionName(version_));
    }
    if (d.writeMask == 0) return Fail(error, "dcl " + name + " has an empty write mask");
    if (d.shift != 0 || (d.modifiers & kResultSaturate)) {
        return Fail(error, "dcl " + name + " takes no result modifier");
    }
    if ((vertex_ && d.modifiers != 0) || (d.modifiers & ~(kResultPartialPrecision | kResultCentroid))) {
        return Fail(error, "dcl " + name + " takes no such modifier");
    }
    // Bits a declaration token of this kind does not use must be clear.
    DWORD used = d.type == D3DSPR_SAMPLER ? 0xF8000000u : vertex_ ? 0x800F001Fu : 0x80000000u;
    if (ins.declaration & ~used) return Fail(error, "dcl " + name + " sets unknown declaration bits");
    if (d.type == D3DSPR_SAMPLER) {
        uint8_t kind = ins.SamplerType();
        if (kind != D3DSTT_2D && kind != D3DSTT_CUBE && kind != D3DSTT_VOLUME) {
            return Fail(error, "sampler " + name + " is declared without a texture type (dcl_2d, dcl_cube or dcl_volume)");
        }
        if (d.writeMask != 0xF) return Fail(error, "sampler " + name + " takes no write mask");
    } else if (vertex_) {
        if (ins.Usage() > 13) return Fail(error, "dcl " + name + " has an unknown usage");
    }
    if (declared_[d.type] & (1u << d.number)) return Fail(error, name + " is declared twice");
    declared_[d.type] |= 1u << d.number;
    return true;
}

bool ShaderValidator::CheckDefinition(const ShaderInstruction &ins, std::string *error) {
    const DestinationParameter &d = ins.destination;
    uint8_t wanted = ins.opcode == D3DSIO_DEF    ? D3DSPR_CONST
                     : ins.opcode == D3DSIO_DEFI ? D3DSPR_CONSTINT
                                                 : D3DSPR_CONSTBOOL;
    std::string name = ShaderRegisterName(version_, d.type, d.number);
    RegisterRule rule = RuleFor(version_, d.type);
    if (d.type != wanted || d.number >= rule.count) {
        return Fail(error, std::string(ShaderOpcodeName(version_, ins.opcode)) + " cannot define " + name +
                               " in " + ShaderVersionName(version_));
    }
    if (d.writeMask != 0xF || d.modifiers != 0 || d.shift != 0) {
        return Fail(error, "a definition takes no write mask or modifier");
    }
    return true;
}

bool ShaderValidator::CheckDestination(const ShaderInstruction &ins, std::string *error) {
    const DestinationParameter &d = ins.destination;
    std::string name = ShaderRegisterName(version_, d.type, d.number);
    std::string op = ShaderOpcodeName(version_, ins.opcode);
    RegisterRule rule = RuleFor(version_, d.type);
    bool textureOp = IsTextureOpcode(ins.opcode);
    if (ins.opcode == D3DSIO_TEXKILL) {
        // texkill names the register it tests in a destination token, but reads it.
        if (d.type != D3DSPR_TEMP && d.type != D3DSPR_TEXTURE) {
            return Fail(error, "texkill cannot test " + name);
        }
        if (d.number >= rule.count) return Fail(error, "register " + name + " does not exist in " + ShaderVersionName(version_));
        if (major_ >= 2 && d.type == D3DSPR_TEXTURE && !(declared_[d.type] & (1u << d.number))) {
            return Fail(error, name + " is read but not declared");
        }
    } else {
        if (rule.count == 0 || !rule.write) {
            return Fail(error, "register " + name + " cannot be written in " + ShaderVersionName(version_));
        }
        if (d.number >= rule.count) {
            return Fail(error, "register " + name + " does not exist in " + ShaderVersionName(version_));
        }
    }
    if (d.writeMask == 0) return Fail(error, "empty write mask on " + name);

    // Result modifiers.
    if (d.shift != 0) {
        if (vertex_ || major_ >= 2) return Fail(error, "result shift modifiers are only for ps_1_x");
        if (textureOp) return Fail(error, "texture instructions take no result modifier");
        if ((d.shift == 3 || d.shift == -2 || d.shift == -3) && minor_ < 4) {
            return Fail(error, "_x8, _d4 and _d8 need ps_1_4");
        }
        if (d.shift > 3 || d.shift < -3) return Fail(error, "unknown result shift");
    }
    if (d.modifiers & kResultSaturate) {
        if (vertex_) return Fail(error, "_sat is not available in " + ShaderVersionName(version_));
        if (textureOp || ins.opcode == D3DSIO_FRC || ins.opcode == D3DSIO_SINCOS) {
            return Fail(error, op + " takes no _sat");
        }
        if (d.type == D3DSPR_COLOROUT || d.type == D3DSPR_DEPTHOUT) {
            return Fail(error, "_sat cannot be used when writing " + name);
        }
    }
    if (d.modifiers & (kResultPartialPrecision | kResultCentroid)) {
        if (vertex_ || major_ < 2) return Fail(error, "_pp and _centroid are only for ps_2_0");
    }
    if (d.modifiers & ~(kResultSaturate | kResultPartialPrecision | kResultCentroid)) {
        return Fail(error, "unknown result modifier");
    }

    // Registers with rules of their own.
    if (vertex_ && d.type == D3DSPR_ADDR) {
        uint16_t wanted = major_ >= 2 ? D3DSIO_MOVA : D3DSIO_MOV;
        if (ins.opcode != wanted) {
            return Fail(error, std::string("a0 can only be written by ") + (major_ >= 2 ? "mova" : "mov"));
        }
        if (major_ < 2 && d.writeMask != 0x1) return Fail(error, "only a0.x can be written in vs_1_1");
    } else if (vertex_ && ins.opcode == D3DSIO_MOVA) {
        return Fail(error, "mova writes a0 only");
    }
    if (d.type == D3DSPR_COLOROUT) {
        if (ins.opcode != D3DSIO_MOV) return Fail(error, name + " can only be written by mov");
        if (d.writeMask != 0xF) return Fail(error, name + " takes no write mask");
        const SourceParameter &s = ins.sources[0];
        if (s.swizzle != kIdentitySwizzle || s.modifier != D3DSPSM_NONE) {
            return Fail(error, "the source written to " + name + " takes no swizzle or modifier");
        }
        if (colorWritten_[d.number]) return Fail(error, name + " is written twice");
        colorWritten_[d.number] = true;
    }
    if (vertex_ && d.type == D3DSPR_RASTOUT && d.number == kRastOutPosition) positionMask_ |= d.writeMask;

    // Texture instructions of ps_1_x write the register of their stage.
    if (!vertex_ && major_ < 2 && textureOp && ins.opcode != D3DSIO_TEXKILL) {
        uint8_t wanted = minor_ >= 4 ? D3DSPR_TEMP : D3DSPR_TEXTURE;
        if (d.type != wanted) {
            return Fail(error, op + " must write a " + (minor_ >= 4 ? "temporary (r#)" : "texture (t#)") + " register");
        }
    }
    if (!vertex_ && major_ >= 2 && ins.opcode == D3DSIO_TEX && d.type != D3DSPR_TEMP) {
        return Fail(error, "texld must write a temporary register");
    }
    return true;
}

bool ShaderValidator::CheckSource(const ShaderInstruction &ins, const SourceParameter &s, std::string *error) {
    std::string name = ShaderRegisterName(version_, s.type, s.number);
    std::string op = ShaderOpcodeName(version_, ins.opcode);
    RegisterRule rule = RuleFor(version_, s.type);
    if (rule.count == 0 || !rule.read) {
        return Fail(error, "register " + name + " cannot be read in " + ShaderVersionName(version_));
    }
    if (s.number >= rule.count) {
        return Fail(error, "register " + name + " does not exist in " + ShaderVersionName(version_));
    }
    if (NeedsDeclaration(version_, s.type) && !(declared_[s.type] & (1u << s.number))) {
        return Fail(error, name + " is read but not declared");
    }
    if (s.relative) {
        if (!vertex_ || s.type != D3DSPR_CONST) {
            return Fail(error, "relative addressing is only for the constants of vertex shaders");
        }
        bool addressOk = s.address.type == D3DSPR_ADDR && s.address.number == 0;
        if (major_ >= 2 && s.address.type == D3DSPR_LOOP && s.address.number == 0) addressOk = true;
        if (major_ < 2 && s.address.component != 0) addressOk = false;
        if (!addressOk) return Fail(error, "relative addressing needs a0.x");
    }
    if (vertex_ && s.type == D3DSPR_ADDR && major_ < 2) {
        return Fail(error, "a0 can only be read as a relative address in vs_1_1");
    }

    // Source modifiers each version knows.
    uint8_t m = s.modifier;
    bool ok = m == D3DSPSM_NONE || m == D3DSPSM_NEG;
    if (!vertex_ && major_ < 2) {
        ok = ok || m == D3DSPSM_BIAS || m == D3DSPSM_BIASNEG || m == D3DSPSM_SIGN || m == D3DSPSM_SIGNNEG ||
             m == D3DSPSM_COMP;
        if (minor_ >= 4) {
            ok = ok || m == D3DSPSM_X2 || m == D3DSPSM_X2NEG;
            if ((m == D3DSPSM_DZ || m == D3DSPSM_DW) &&
                (ins.opcode == D3DSIO_TEX || ins.opcode == D3DSIO_TEXCOORD)) {
                ok = true;
            }
        }
    }
    if (!ok) return Fail(error, "a source modifier of " + name + " is not available in " + ShaderVersionName(version_));

    // Texture registers and samplers of the pixel shader versions.
    if (!vertex_ && s.type == D3DSPR_TEXTURE && major_ < 2 && minor_ >= 4 && ins.opcode != D3DSIO_TEX &&
        ins.opcode != D3DSIO_TEXCOORD) {
        return Fail(error, "in ps_1_4 only texld and texcrd can read " + name);
    }
    if (!vertex_ && major_ < 2 && minor_ >= 4 && (ins.opcode == D3DSIO_TEX || ins.opcode == D3DSIO_TEXCOORD)) {
        if (s.type != D3DSPR_TEXTURE && !(s.type == D3DSPR_TEMP && phaseSeen_)) {
            return Fail(error, op + " reads a texture register (or, after phase, a temporary register)");
        }
    }
    if (s.type == D3DSPR_SAMPLER && ins.opcode != D3DSIO_TEX) return Fail(error, "only texld can read " + name);
    return true;
}

bool ShaderValidator::Check(const ShaderInstruction &ins, std::string *error) {
    std::string scratch;
    if (!error) error = &scratch;
    if (ins.opcode == D3DSIO_COMMENT) return true;
    uint8_t bit = VersionBit(version_);
    if (!bit) return Fail(error, "shader version " + ShaderVersionName(version_) + " is not supported");
    const OpcodeInfo *info = FindOpcode(ins.opcode);
    if (!info) return Fail(error, "unknown opcode " + std::to_string(ins.opcode));
    const char *name = ShaderOpcodeName(version_, ins.opcode);
    if (!(info->versions & bit)) {
        return Fail(error, std::string("'") + name + "' is not available in " + ShaderVersionName(version_));
    }
    if (ins.opcode == D3DSIO_TEX && ins.control != 0 && (major_ < 2 || ins.control > kTexldBias)) {
        return Fail(error, "unknown texld variant");
    }
    if (ins.opcode != D3DSIO_TEX && ins.control != 0) return Fail(error, std::string("'") + name + "' takes no controls");
    bool pixel1x = !vertex_ && major_ < 2;
    bool textureOp = IsTextureOpcode(ins.opcode);
    if (ins.coissue) {
        if (!pixel1x) return Fail(error, "co-issue (+) is only for ps_1_x");
        bool arithmetic = !textureOp && ins.opcode != D3DSIO_NOP && ins.opcode != D3DSIO_PHASE &&
                          ins.opcode != D3DSIO_DEF;
        if (!previousArithmetic_ || !arithmetic) {
            return Fail(error, "a co-issued instruction (+) must pair with an arithmetic instruction before it");
        }
    }
    if (ins.opcode == D3DSIO_DCL) return CheckDeclaration(ins, error);
    if (ins.opcode == D3DSIO_DEF || ins.opcode == D3DSIO_DEFI || ins.opcode == D3DSIO_DEFB) {
        return CheckDefinition(ins, error);
    }
    int destinations = 0, sources = 0;
    ShaderOperandCounts(version_, ins.opcode, &destinations, &sources);
    if (ins.hasDestination != (destinations == 1) || ins.sourceCount != sources) {
        return Fail(error, std::string("'") + name + "' has the wrong number of operands");
    }

    if (pixel1x && ins.opcode == D3DSIO_PHASE) {
        if (phaseSeen_) return Fail(error, "phase appears twice");
        phaseSeen_ = true;
        instructionSeen_ = false;
    }
    if (pixel1x && textureOp && instructionSeen_) {
        return Fail(error, std::string("texture instruction '") + name + "' follows an arithmetic instruction" +
                               (minor_ >= 4 ? " in the same phase" : ""));
    }
    // Sources are read before the destination is written.
    for (unsigned i = 0; i < ins.sourceCount; ++i) {
        if (!CheckSource(ins, ins.sources[i], error)) return false;
    }
    // The matrix instructions read the registers after their second source too.
    int rows = 0;
    switch (ins.opcode) {
    case D3DSIO_M4x4:
    case D3DSIO_M3x4: rows = 4; break;
    case D3DSIO_M4x3:
    case D3DSIO_M3x3: rows = 3; break;
    case D3DSIO_M3x2: rows = 2; break;
    default: break;
    }
    if (rows && !ins.sources[1].relative) {
        for (int i = 1; i < rows; ++i) {
            SourceParameter row = ins.sources[1];
            row.number = static_cast<uint16_t>(row.number + i);
            if (!CheckSource(ins, row, error)) return false;
        }
    }
    if (ins.hasDestination && !CheckDestination(ins, error)) return false;
    if (!vertex_ && major_ >= 2 && ins.opcode == D3DSIO_TEX) {
        if (ins.sources[1].type != D3DSPR_SAMPLER) return Fail(error, "texld needs a sampler (s#) as its second source");
        if (ins.sources[0].type != D3DSPR_TEXTURE && ins.sources[0].type != D3DSPR_TEMP) {
            return Fail(error, "texld reads its coordinates from a t# or r# register");
        }
    }
    bool arithmetic = !textureOp && ins.opcode != D3DSIO_NOP && ins.opcode != D3DSIO_PHASE;
    if (pixel1x && arithmetic) instructionSeen_ = true;
    previousArithmetic_ = arithmetic && !ins.coissue;
    return true;
}

bool ShaderValidator::Finish(std::string *error) {
    std::string scratch;
    if (!error) error = &scratch;
    if (vertex_) {
        if (positionMask_ == 0) return Fail(error, "the vertex shader does not write oPos");
        if (positionMask_ != 0xF) return Fail(error, "the vertex shader does not write every component of oPos");
    } else if (major_ >= 2) {
        if (!colorWritten_[0]) return Fail(error, "the pixel shader does not write oC0");
        for (int i = 1; i < 4; ++i) {
            if (colorWritten_[i] && !colorWritten_[i - 1]) {
                return Fail(error, "oC" + std::to_string(i) + " is written but oC" + std::to_string(i - 1) + " is not");
            }
        }
    }
    return true;
}

bool ValidateShader(const ShaderProgram &program, std::string *error) {
    std::string scratch;
    if (!error) error = &scratch;
    if (!IsSupportedShaderVersion(program.version)) {
        return Fail(error, "shader version " + ShaderVersionName(program.version) + " is not supported");
    }
    ShaderValidator validator(program.version);
    for (size_t i = 0; i < program.instructions.size(); ++i) {
        std::string why;
        if (!validator.Check(program.instructions[i], &why)) {
            return Fail(error, "instruction " + std::to_string(i + 1) + ": " + why);
        }
    }
    return validator.Finish(error);
}

} // namespace qrv::d3d9
