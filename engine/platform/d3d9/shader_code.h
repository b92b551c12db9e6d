// Direct3D 9 shader code as plain data: the version token, then instructions with
// their destination and source parameters, declarations (dcl), definitions (def,
// defi, defb) and comments, closed by the end token. Decode reads a token stream
// into a ShaderProgram and Encode writes one back, in the token layout of
// Direct3D 9 ("Shader Code Format"), so the tokens made here are the tokens
// Direct3D's own assembler makes. ShaderValidator checks a program against the
// rules of its shader version; the assembler and the GLSL translator share it.
//
// Supported shader versions: vs_1_1, vs_2_0, ps_1_1 to ps_1_4 and ps_2_0. Decode
// reads the structure of any instruction those versions know; what each version
// may use is the validator's business.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/wintypes.h"

namespace qrv::d3d9 {

// ---- Token layout -------------------------------------------------------------------
inline constexpr DWORD kShaderEndToken = 0x0000FFFFu;
inline constexpr DWORD kCoissueBit = 0x40000000u;    // ps_1_x: runs beside the previous one
inline constexpr DWORD kPredicatedBit = 0x10000000u; // 2_x and later only
inline constexpr DWORD kParameterBit = 0x80000000u;  // set in every parameter token
inline constexpr DWORD kRelativeBit = 0x00002000u;   // relative addressing

// Instruction opcodes (the low 16 bits of an instruction token).
enum ShaderOpcode : uint16_t {
    D3DSIO_NOP = 0,
    D3DSIO_MOV = 1,
    D3DSIO_ADD = 2,
    D3DSIO_SUB = 3,
    D3DSIO_MAD = 4,
    D3DSIO_MUL = 5,
    D3DSIO_RCP = 6,
    D3DSIO_RSQ = 7,
    D3DSIO_DP3 = 8,
    D3DSIO_DP4 = 9,
    D3DSIO_MIN = 10,
    D3DSIO_MAX = 11,
    D3DSIO_SLT = 12,
    D3DSIO_SGE = 13,
    D3DSIO_EXP = 14,
    D3DSIO_LOG = 15,
    D3DSIO_LIT = 16,
    D3DSIO_DST = 17,
    D3DSIO_LRP = 18,
    D3DSIO_FRC = 19,
    D3DSIO_M4x4 = 20,
    D3DSIO_M4x3 = 21,
    D3DSIO_M3x4 = 22,
    D3DSIO_M3x3 = 23,
    D3DSIO_M3x2 = 24,
    D3DSIO_CALL = 25,
    D3DSIO_CALLNZ = 26,
    D3DSIO_LOOP = 27,
    D3DSIO_RET = 28,
    D3DSIO_ENDLOOP = 29,
    D3DSIO_LABEL = 30,
    D3DSIO_DCL = 31,
    D3DSIO_POW = 32,
    D3DSIO_CRS = 33,
    D3DSIO_SGN = 34,
    D3DSIO_ABS = 35,
    D3DSIO_NRM = 36,
    D3DSIO_SINCOS = 37,
    D3DSIO_REP = 38,
    D3DSIO_ENDREP = 39,
    D3DSIO_IF = 40,
    D3DSIO_IFC = 41,
    D3DSIO_ELSE = 42,
    D3DSIO_ENDIF = 43,
    D3DSIO_BREAK = 44,
    D3DSIO_BREAKC = 45,
    D3DSIO_MOVA = 46,
    D3DSIO_DEFB = 47,
    D3DSIO_DEFI = 48,
    D3DSIO_TEXCOORD = 64,
    D3DSIO_TEXKILL = 65,
    D3DSIO_TEX = 66,
    D3DSIO_TEXBEM = 67,
    D3DSIO_TEXBEML = 68,
    D3DSIO_TEXREG2AR = 69,
    D3DSIO_TEXREG2GB = 70,
    D3DSIO_TEXM3x2PAD = 71,
    D3DSIO_TEXM3x2TEX = 72,
    D3DSIO_TEXM3x3PAD = 73,
    D3DSIO_TEXM3x3TEX = 74,
    D3DSIO_TEXM3x3SPEC = 76,
    D3DSIO_TEXM3x3VSPEC = 77,
    D3DSIO_EXPP = 78,
    D3DSIO_LOGP = 79,
    D3DSIO_CND = 80,
    D3DSIO_DEF = 81,
    D3DSIO_TEXREG2RGB = 82,
    D3DSIO_TEXDP3TEX = 83,
    D3DSIO_TEXM3x2DEPTH = 84,
    D3DSIO_TEXDP3 = 85,
    D3DSIO_TEXM3x3 = 86,
    D3DSIO_TEXDEPTH = 87,
    D3DSIO_CMP = 88,
    D3DSIO_BEM = 89,
    D3DSIO_DP2ADD = 90,
    D3DSIO_DSX = 91,
    D3DSIO_DSY = 92,
    D3DSIO_TEXLDD = 93,
    D3DSIO_SETP = 94,
    D3DSIO_TEXLDL = 95,
    D3DSIO_BREAKP = 96,
    D3DSIO_PHASE = 0xFFFD,
    D3DSIO_COMMENT = 0xFFFE,
    D3DSIO_END = 0xFFFF,
};

// texld controls (bits 16-23 of the instruction token).
inline constexpr uint8_t kTexldProject = 1; // texldp
inline constexpr uint8_t kTexldBias = 2;    // texldb

// Register types (5 bits, split over bits 28-30 and 11-12 of a parameter token).
enum ShaderRegisterType : uint8_t {
    D3DSPR_TEMP = 0,
    D3DSPR_INPUT = 1,
    D3DSPR_CONST = 2,
    D3DSPR_ADDR = 3,    // vertex shaders: a0
    D3DSPR_TEXTURE = 3, // pixel shaders: t#
    D3DSPR_RASTOUT = 4, // oPos, oFog, oPts
    D3DSPR_ATTROUT = 5, // oD0, oD1
    D3DSPR_TEXCRDOUT = 6,
    D3DSPR_CONSTINT = 7,
    D3DSPR_COLOROUT = 8,
    D3DSPR_DEPTHOUT = 9,
    D3DSPR_SAMPLER = 10,
    D3DSPR_CONST2 = 11,
    D3DSPR_CONST3 = 12,
    D3DSPR_CONST4 = 13,
    D3DSPR_CONSTBOOL = 14,
    D3DSPR_LOOP = 15,
    D3DSPR_TEMPFLOAT16 = 16,
    D3DSPR_MISCTYPE = 17,
    D3DSPR_LABEL = 18,
    D3DSPR_PREDICATE = 19,
};

// Register numbers of D3DSPR_RASTOUT.
inline constexpr uint16_t kRastOutPosition = 0;
inline constexpr uint16_t kRastOutFog = 1;
inline constexpr uint16_t kRastOutPointSize = 2;

// Source modifiers (bits 24-27 of a source parameter token).
enum ShaderSourceModifier : uint8_t {
    D3DSPSM_NONE = 0,
    D3DSPSM_NEG = 1,
    D3DSPSM_BIAS = 2,
    D3DSPSM_BIASNEG = 3,
    D3DSPSM_SIGN = 4, // _bx2
    D3DSPSM_SIGNNEG = 5,
    D3DSPSM_COMP = 6, // 1 - x
    D3DSPSM_X2 = 7,
    D3DSPSM_X2NEG = 8,
    D3DSPSM_DZ = 9,
    D3DSPSM_DW = 10,
    D3DSPSM_ABS = 11,
    D3DSPSM_ABSNEG = 12,
    D3DSPSM_NOT = 13,
};

// Result modifiers (bits 20-23 of a destination parameter token).
inline constexpr uint8_t kResultSaturate = 1;
inline constexpr uint8_t kResultPartialPrecision = 2;
inline constexpr uint8_t kResultCentroid = 4;

// Texture types of a sampler declaration (bits 27-30 of the dcl token).
enum ShaderSamplerType : uint8_t {
    D3DSTT_UNKNOWN = 0,
    D3DSTT_2D = 2,
    D3DSTT_CUBE = 3,
    D3DSTT_VOLUME = 4,
};

// The swizzle that leaves a source as it is: x, y, z, w (2 bits a component, x lowest).
inline constexpr uint8_t kIdentitySwizzle = 0xE4;

// ps_1_x arithmetic keeps values within [-kPixelShader1xMaxValue, kPixelShader1xMaxValue]
// (D3DCAPS9.PixelShader1xMaxValue; a device that runs ps_1_4 must offer at least 8).
// Constants of ps_1_x read within [-1, 1].
inline constexpr float kPixelShader1xMaxValue = 8.0f;

// ---- Versions -------------------------------------------------------------------------
inline bool IsVertexShaderVersion(DWORD version) { return (version & 0xFFFF0000u) == 0xFFFE0000u; }
inline bool IsPixelShaderVersion(DWORD version) { return (version & 0xFFFF0000u) == 0xFFFF0000u; }
inline unsigned ShaderMajor(DWORD version) { return (version >> 8) & 0xFFu; }
inline unsigned ShaderMinor(DWORD version) { return version & 0xFFu; }
// vs_1_1, vs_2_0, ps_1_1, ps_1_2, ps_1_3, ps_1_4 or ps_2_0.
bool IsSupportedShaderVersion(DWORD version);
// "vs_1_1", "ps_2_0", ...; any token of the vs/ps form gets its name.
std::string ShaderVersionName(DWORD version);

// ---- Instructions ----------------------------------------------------------------------
// The register a relative address reads: a0.x (the only form in vs_1_1) or aL.
struct RelativeAddress {
    uint8_t type = D3DSPR_ADDR;
    uint16_t number = 0;
    uint8_t component = 0; // 0 x, 1 y, 2 z, 3 w
};

struct DestinationParameter {
    uint8_t type = D3DSPR_TEMP;
    uint16_t number = 0;
    uint8_t writeMask = 0xF; // bit 0 x ... bit 3 w
    uint8_t modifiers = 0;   // kResult* bits
    int8_t shift = 0;        // ps_1_x result scale: 1 _x2, 2 _x4, 3 _x8, -1 _d2, -2 _d4, -3 _d8
};

struct SourceParameter {
    uint8_t type = D3DSPR_TEMP;
    uint16_t number = 0;
    uint8_t swizzle = kIdentitySwizzle;
    uint8_t modifier = D3DSPSM_NONE;
    bool relative = false; // number is added to the address register's value
    RelativeAddress address;

    // The register component that result component i reads.
    unsigned Component(unsigned i) const { return (swizzle >> (2 * i)) & 3u; }
};

struct ShaderInstruction {
    uint16_t opcode = D3DSIO_NOP;
    uint8_t control = 0; // bits 16-23: texld project or bias
    bool coissue = false;
    bool hasDestination = false;
    DestinationParameter destination;
    uint8_t sourceCount = 0;
    std::array<SourceParameter, 4> sources{};
    // dcl: the declaration token (bit 31 set; usage in bits 0-4, usage index in
    // bits 16-19; for samplers the texture type in bits 27-30).
    DWORD declaration = 0;
    // def: four floats as their bits; defi: four integers; defb: one boolean.
    std::array<DWORD, 4> values{};
    // comment: the comment's tokens.
    std::vector<DWORD> comment;
    // Where the instruction came from in assembly text (0 when decoded).
    uint32_t line = 0;

    uint8_t Usage() const { return static_cast<uint8_t>(declaration & 0x1Fu); }
    uint8_t UsageIndex() const { return static_cast<uint8_t>((declaration >> 16) & 0xFu); }
    uint8_t SamplerType() const { return static_cast<uint8_t>((declaration >> 27) & 0xFu); }
};

struct ShaderProgram {
    DWORD version = 0;
    std::vector<ShaderInstruction> instructions; // the end token is not one of them
    size_t tokenCount = 0;                       // tokens read by Decode, end token included
};

// The operands an opcode takes in a shader version: destinations (0 or 1) and
// sources. False for opcodes this model does not know, and for dcl, def, defi,
// defb and comments, whose layout is their own.
bool ShaderOperandCounts(DWORD version, uint16_t opcode, int *destinations, int *sources);

// The assembler's name of an opcode in a version ("texld" for D3DSIO_TEX in ps_1_4,
// "tex" in ps_1_1), or null for an opcode this model does not know.
const char *ShaderOpcodeName(DWORD version, uint16_t opcode);

// The opcode of an assembler name ("mov", "texld", "texldp"...) and the controls it
// sets. False for names no supported version knows; *available says whether
// version has the instruction under that name ("tex" is ps_1_1 to ps_1_3 only).
bool FindShaderOpcode(DWORD version, const std::string &name, uint16_t *opcode, uint8_t *control,
                      bool *available);

// Reads the token stream at tokens up to and including its end token, never
// reading past maxTokens. False, with a one-line reason in *error, for a stream
// that is not well formed: no version token, an unknown opcode, a parameter token
// missing or malformed, an instruction length that does not match, or no end token.
bool Decode(const DWORD *tokens, size_t maxTokens, ShaderProgram *program, std::string *error);

// The token stream of a program: version, instructions (with the instruction
// length of version 2_0 and later), end token.
std::vector<DWORD> Encode(const ShaderProgram &program);

// Checks the instructions of a program one by one in program order (Check), then
// the program as a whole (Finish), against the rules of its version: which
// instructions, registers, modifiers and write masks the version allows, inputs
// declared before they are read, oPos written in full by a vertex shader, oC0
// written by a ps_2_0 shader.
class ShaderValidator {
public:
    explicit ShaderValidator(DWORD version);

    bool Check(const ShaderInstruction &instruction, std::string *error);
    bool Finish(std::string *error);

private:
    bool CheckDestination(const ShaderInstruction &ins, std::string *error);
    bool CheckSource(const ShaderInstruction &ins, const SourceParameter &src, std::string *error);
    bool CheckDeclaration(const ShaderInstruction &ins, std::string *error);
    bool CheckDefinition(const ShaderInstruction &ins, std::string *error);

    DWORD version_;
    bool vertex_;
    unsigned major_;
    unsigned minor_;
    uint32_t declared_[32] = {};  // by register type: bit N set when register N is declared
    uint8_t positionMask_ = 0;    // components of oPos written
    bool colorWritten_[4] = {};   // oC0..oC3 written
    bool previousArithmetic_ = false;
    bool phaseSeen_ = false;
    bool instructionSeen_ = false;
};

// Checks a whole program: every instruction, then Finish. Messages name the
// instruction's position ("instruction 3: ...").
bool ValidateShader(const ShaderProgram &program, std::string *error);

// The text name of a register in a version: r0, v1, c5, a0, oPos, oD0, oT3, t0, s0, oC0...
std::string ShaderRegisterName(DWORD version, uint8_t type, uint16_t number);

} // namespace qrv::d3d9
