// Direct3D's shader assembly language to shader tokens and back.
//
// The assembler takes vs_1_1, vs_2_0, ps_1_1 to ps_1_4 and ps_2_0 text: a version
// line, declarations (dcl_position v0, dcl_texcoord1 v2, dcl t0, dcl_2d s0),
// definitions (def, defi, defb) and instructions with their modifiers (_sat, _pp,
// _x2 ... _d8, co-issue +), write masks, swizzles (.x, .xy, .rgba ...) and source
// modifiers (-, 1-, _bias, _bx2, _x2, _dz, _dw). Names are case-insensitive;
// comments run from // or ; to the end of the line, or between /* and */.
// Programs are validated as Direct3D validates them (see ShaderValidator).
//
// Every failure names its line: "<file>(<line>): error: <what>".
//
// D3DXAssembleShaderFromFileA (d3dx9.h) reads the whole file and assembles it as
// AssembleShaderText does. A file that cannot be opened or read gives
// D3DXERR_INVALIDDATA like bad text, with "<file>: error: cannot open the file
// (<reason>)"; a null path or a null shader pointer gives D3DERR_INVALIDCALL;
// defines or an include handler give E_NOTIMPL (there is no preprocessor); flags
// are not looked at. On any failure *shader is null.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "d3dx9.h"

// A reference-counted buffer of size bytes, zero-filled.
HRESULT D3DXCreateBuffer(DWORD size, ID3DXBuffer **buffer);

namespace qrv::d3dx9 {

// Assembles text. fileName names the text in messages. On success *tokens holds
// the token stream (end token included) and true returns; on failure *messages
// holds one line per error and *tokens is empty. Never throws, never crashes,
// whatever the text.
bool AssembleShader(std::string_view text, const char *fileName, std::vector<DWORD> *tokens,
                    std::string *messages);

// The D3DX road for text in memory: S_OK with the tokens in a new *shader buffer;
// D3DXERR_INVALIDDATA for text that does not assemble, with no buffer, the
// messages written to stderr and, when errors is not null, returned in a new
// *errors buffer (NUL-terminated text). D3DERR_INVALIDCALL when shader is null.
HRESULT AssembleShaderText(std::string_view text, const char *fileName, ID3DXBuffer **shader,
                           ID3DXBuffer **errors);

// The text of a token stream, one instruction a line, in the syntax the
// assembler reads (comments become // lines). False, with the reason in *error,
// for streams Decode refuses.
bool DisassembleShader(const DWORD *tokens, size_t maxTokens, std::string *text, std::string *error);

} // namespace qrv::d3dx9
