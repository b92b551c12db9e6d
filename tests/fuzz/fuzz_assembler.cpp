// Any text through the shader assembler. It must never crash, must give a reason
// for every refusal, and what it accepts must decode and validate, and must come
// back to the same tokens through the disassembler and the assembler again; the
// translator then either runs it or says why not.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/d3d9/shader_code.h"
#include "platform/d3d9/shader_glsl.h"
#include "platform/d3dx9/assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace qrv::d3d9;
    std::string_view text(reinterpret_cast<const char *>(data), size);
    std::vector<DWORD> tokens;
    std::string messages;
    if (!qrv::d3dx9::AssembleShader(text, "fuzz", &tokens, &messages)) {
        if (messages.empty() || !tokens.empty()) __builtin_trap();
        return 0;
    }
    ShaderProgram program;
    std::string error;
    if (!Decode(tokens.data(), tokens.size(), &program, &error) || program.tokenCount != tokens.size()) {
        __builtin_trap();
    }
    if (!ValidateShader(program, &error) || Encode(program) != tokens) __builtin_trap();
    std::string again;
    if (!qrv::d3dx9::DisassembleShader(tokens.data(), tokens.size(), &again, &error)) __builtin_trap();
    std::vector<DWORD> retokens;
    if (!qrv::d3dx9::AssembleShader(again, "again", &retokens, &messages) || retokens != tokens) {
        __builtin_trap();
    }
    TranslatedShader out;
    if (!TranslateShader(tokens.data(), tokens.size(), (size & 1) != 0, &out, &error)) {
        if (error.empty()) __builtin_trap();
    } else if (out.glsl.empty() || out.tokenCount != tokens.size()) {
        __builtin_trap();
    }
    return 0;
}
