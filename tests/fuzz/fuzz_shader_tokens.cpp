// Any shader tokens through the decoder, the validator, the translator and the
// disassembler. Nothing may read past the tokens given; a stream that decodes must
// encode and decode to itself; a stream the validator accepts must come back to
// the same tokens through the disassembler and the assembler.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/d3d9/shader_code.h"
#include "platform/d3d9/shader_glsl.h"
#include "platform/d3dx9/assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace qrv::d3d9;
    // An exactly sized copy, so that the sanitizer sees any read past the end.
    std::vector<DWORD> tokens(size / sizeof(DWORD));
    if (!tokens.empty()) std::memcpy(tokens.data(), data, tokens.size() * sizeof(DWORD));
    const DWORD *stream = tokens.empty() ? nullptr : tokens.data();

    ShaderProgram program;
    std::string error;
    bool decoded = Decode(stream, tokens.size(), &program, &error);
    TranslatedShader out;
    std::string why;
    bool translated = TranslateShader(stream, tokens.size(), (size & 1) != 0, &out, &why);
    if (translated && (!decoded || out.tokenCount != program.tokenCount)) __builtin_trap();
    if (!translated && why.empty()) __builtin_trap();
    std::string text;
    if (qrv::d3dx9::DisassembleShader(stream, tokens.size(), &text, &error) != decoded) __builtin_trap();
    if (!decoded) return 0;
    if (program.tokenCount > tokens.size()) __builtin_trap();

    std::vector<DWORD> encoded = Encode(program);
    ShaderProgram again;
    if (!Decode(encoded.data(), encoded.size(), &again, &error) || Encode(again) != encoded) __builtin_trap();
    if (!ValidateShader(program, &error)) return 0;

    // The text drops comments and spells booleans as true and false.
    ShaderProgram canonical;
    canonical.version = program.version;
    for (ShaderInstruction ins : program.instructions) {
        if (ins.opcode == D3DSIO_COMMENT) continue;
        if (ins.opcode == D3DSIO_DEFB) ins.values[0] = ins.values[0] != 0;
        if (ins.opcode == D3DSIO_DEF) {
            for (DWORD &v : ins.values) {
                if ((v & 0x7F800000u) == 0x7F800000u && (v & 0x007FFFFFu)) v = (v & 0x80000000u) | 0x7FC00000u;
            }
        }
        canonical.instructions.push_back(ins);
    }
    std::vector<DWORD> reassembled;
    std::string messages;
    if (!qrv::d3dx9::AssembleShader(text, "disassembly", &reassembled, &messages)) __builtin_trap();
    if (reassembled != Encode(canonical)) __builtin_trap();
    return 0;
}
