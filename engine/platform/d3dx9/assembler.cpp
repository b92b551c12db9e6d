// The shader assembler: Direct3D shader assembly text to shader tokens, and
// D3DXAssembleShaderFromFileA on top of it.
#include "assembler.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/d3d9/shader_code.h"

using namespace qrv::d3d9;

namespace {

// ---- The buffer D3DX hands out ----------------------------------------------------------
class Buffer final : public ID3DXBuffer {
public:
    explicit Buffer(size_t size) : bytes_(size) {}

    ULONG AddRef() override { return ++references_; }
    ULONG Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    void *GetBufferPointer() override { return bytes_.data(); }
    DWORD GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    std::atomic<ULONG> references_{1};
    std::vector<unsigned char> bytes_;
};

HRESULT MakeBuffer(const void *data, size_t size, ID3DXBuffer **buffer) {
    HRESULT hr = D3DXCreateBuffer(static_cast<DWORD>(size), buffer);
    if (FAILED(hr)) return hr;
    if (size) std::memcpy((*buffer)->GetBufferPointer(), data, size);
    return S_OK;
}

// ---- Text ------------------------------------------------------------------------------
struct SourceLine {
    uint32_t number;
    std::string text; // lower case, comments removed, trimmed
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }
bool IsLetter(char c) { return c >= 'a' && c <= 'z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
    return s;
}

// Splits text into lines without comments, in lower case. A block comment keeps
// the line numbers of the lines it spans.
std::vector<SourceLine> SplitLines(std::string_view text) {
    std::vector<SourceLine> lines;
    std::string current;
    uint32_t number = 1;
    bool inBlock = false;
    bool inLineComment = false;
    auto flush = [&] {
        std::string_view t = Trim(current);
        if (!t.empty()) lines.push_back({number, std::string(t)});
        current.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\n') {
            flush();
            ++number;
            inLineComment = false;
            continue;
        }
        if (inLineComment) continue;
        if (inBlock) {
            if (c == '*' && i + 1 < text.size() && text[i + 1] == '/') {
                inBlock = false;
                ++i;
                current += ' ';
            }
            continue;
        }
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '/') {
            inLineComment = true;
            continue;
        }
        if (c == '/' && i + 1 < text.size() && text[i + 1] == '*') {
            inBlock = true;
            ++i;
            continue;
        }
        if (c == ';') {
            inLineComment = true;
            continue;
        }
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        current += c;
    }
    flush();
    return lines;
}

std::string Quoted(std::string_view s) {
    std::string out = "'";
    for (char c : s.substr(0, 40)) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    if (s.size() > 40) out += "...";
    return out + "'";
}

bool ParseUnsigned(std::string_view s, uint32_t limit, uint32_t *value) {
    if (s.empty() || s.size() > 6) return false;
    uint32_t v = 0;
    for (char c : s) {
        if (!IsDigit(c)) return false;
        v = v * 10 + static_cast<uint32_t>(c - '0');
    }
    if (v > limit) return false;
    *value = v;
    return true;
}

// ---- Operands --------------------------------------------------------------------------
struct RegisterRef {
    uint8_t type = 0;
    uint16_t number = 0;
    bool relative = false;
    RelativeAddress address;
};

constexpr uint32_t kMaxRegisterNumber = 0x7FF;

class LineAssembler {
public:
    explicit LineAssembler(DWORD version) : version_(version), vertex_(IsVertexShaderVersion(version)) {}

    bool Instruction(std::string_view line, ShaderInstruction *ins, std::string *error);

private:
    bool Register(std::string_view &s, RegisterRef *reg, std::string *error);
    bool Relative(std::string_view inside, RegisterRef *reg, std::string *error);
    bool Destination(std::string_view text, DestinationParameter *dst, std::string *error);
    bool Source(std::string_view text, SourceParameter *src, std::string *error);
    bool Declaration(std::string_view modifiers, std::vector<std::string_view> &operands, ShaderInstruction *ins,
                     std::string *error);
    bool Definition(std::vector<std::string_view> &operands, ShaderInstruction *ins, std::string *error);

    DWORD version_;
    bool vertex_;
};

bool LineAssembler::Relative(std::string_view inside, RegisterRef *reg, std::string *error) {
    // [a0.x], [a0.x + n], [n + a0.x], [aL + n], [n]; blanks are gone already.
    uint32_t offset = 0;
    bool haveAddress = false;
    bool haveOffset = false;
    while (!inside.empty()) {
        size_t plus = inside.find('+');
        std::string_view term = inside.substr(0, plus);
        inside = plus == std::string_view::npos ? std::string_view() : inside.substr(plus + 1);
        if (plus != std::string_view::npos && inside.empty()) {
            *error = "a relative address ends in '+'";
            return false;
        }
        if (term.empty()) {
            *error = "an empty term in a relative address";
            return false;
        }
        if (IsDigit(term[0])) {
            uint32_t value;
            if (haveOffset || !ParseUnsigned(term, kMaxRegisterNumber, &value)) {
                *error = "bad offset " + Quoted(term) + " in a relative address";
                return false;
            }
            offset = value;
            haveOffset = true;
            continue;
        }
        if (haveAddress) {
            *error = "a relative address names two address registers";
            return false;
        }
        haveAddress = true;
        if (term == "al") {
            reg->address = {D3DSPR_LOOP, 0, 0};
        } else if (term.substr(0, 2) == "a0") {
            std::string_view component = term.substr(2);
            uint8_t c = 0;
            if (component.empty()) {
                c = 0;
            } else if (component.size() == 2 && component[0] == '.') {
                const char *pos = std::strchr("xyzwrgba", component[1]);
                if (!pos || component[1] == '\0') {
                    *error = "bad address component " + Quoted(component);
                    return false;
                }
                c = static_cast<uint8_t>((pos - "xyzwrgba") & 3);
            } else {
                *error = "bad address register " + Quoted(term);
                return false;
            }
            reg->address = {D3DSPR_ADDR, 0, c};
        } else {
            *error = "bad relative address term " + Quoted(term);
            return false;
        }
    }
    uint32_t number = reg->number + offset;
    if (number > kMaxRegisterNumber) {
        *error = "register number too large";
        return false;
    }
    reg->number = static_cast<uint16_t>(number);
    reg->relative = haveAddress;
    return true;
}

bool LineAssembler::Register(std::string_view &s, RegisterRef *reg, std::string *error) {
    size_t letters = 0;
    while (letters < s.size() && IsLetter(s[letters])) ++letters;
    size_t digits = letters;
    while (digits < s.size() && IsDigit(s[digits])) ++digits;
    std::string_view name = s.substr(0, letters);
    std::string_view numberText = s.substr(letters, digits - letters);
    std::string_view whole = s.substr(0, digits);
    s.remove_prefix(digits);
    uint32_t number = 0;
    if (!numberText.empty() && !ParseUnsigned(numberText, kMaxRegisterNumber, &number)) {
        *error = "register number too large in " + Quoted(whole);
        return false;
    }
    struct Named {
        const char *name;
        uint8_t type;
        int fixedNumber; // -1: the register takes a number
        bool vertex;
        bool pixel;
    };
    static constexpr Named kNames[] = {
        {"r", D3DSPR_TEMP, -1, true, true},         {"v", D3DSPR_INPUT, -1, true, true},
        {"c", D3DSPR_CONST, -1, true, true},        {"t", D3DSPR_TEXTURE, -1, false, true},
        {"s", D3DSPR_SAMPLER, -1, false, true},     {"a", D3DSPR_ADDR, -1, true, false},
        {"al", D3DSPR_LOOP, 0, true, false},        {"i", D3DSPR_CONSTINT, -1, true, true},
        {"b", D3DSPR_CONSTBOOL, -1, true, true},    {"l", D3DSPR_LABEL, -1, true, false},
        {"p", D3DSPR_PREDICATE, -1, true, true},    {"opos", D3DSPR_RASTOUT, kRastOutPosition, true, false},
        {"ofog", D3DSPR_RASTOUT, kRastOutFog, true, false},
        {"opts", D3DSPR_RASTOUT, kRastOutPointSize, true, false},
        {"od", D3DSPR_ATTROUT, -1, true, false},    {"ot", D3DSPR_TEXCRDOUT, -1, true, false},
        {"oc", D3DSPR_COLOROUT, -1, false, true},   {"odepth", D3DSPR_DEPTHOUT, 0, false, true},
    };
    for (const Named &named : kNames) {
        if (name != named.name || !(vertex_ ? named.vertex : named.pixel)) continue;
        reg->type = named.type;
        if (named.fixedNumber >= 0) {
            if (!numberText.empty()) break;
            reg->number = static_cast<uint16_t>(named.fixedNumber);
        } else if (numberText.empty()) {
            // c[...] is the one register written without a number.
            if (!(named.type == D3DSPR_CONST && !s.empty() && s[0] == '[')) {
                *error = "register " + Quoted(whole) + " needs a number";
                return false;
            }
            reg->number = 0;
        } else {
            reg->number = static_cast<uint16_t>(number);
        }
        if (!s.empty() && s[0] == '[') {
            size_t close = s.find(']');
            if (close == std::string_view::npos) {
                *error = "missing ']' after " + Quoted(whole);
                return false;
            }
            if (named.type != D3DSPR_CONST) {
                *error = "only constants take a relative address, not " + Quoted(whole);
                return false;
            }
            if (!Relative(s.substr(1, close - 1), reg, error)) return false;
            s.remove_prefix(close + 1);
        }
        return true;
    }
    *error = whole.empty() ? "expected a register" : "unknown register " + Quoted(whole) + " in " +
                                                         ShaderVersionName(version_);
    return false;
}

bool ParseMask(std::string_view letters, uint8_t *mask, std::string *error) {
    static constexpr const char *kSets[] = {"xyzw", "rgba"};
    for (const char *set : kSets) {
        uint8_t m = 0;
        int last = -1;
        bool ok = !letters.empty();
        for (char c : letters) {
            const char *pos = std::strchr(set, c);
            int index = pos && c ? static_cast<int>(pos - set) : -1;
            if (index <= last) {
                ok = false;
                break;
            }
            m = static_cast<uint8_t>(m | (1u << index));
            last = index;
        }
        if (ok) {
            *mask = m;
            return true;
        }
    }
    *error = "bad write mask " + Quoted(letters) + " (components in order, from xyzw or rgba)";
    return false;
}

bool ParseSwizzle(std::string_view letters, uint8_t *swizzle, std::string *error) {
    static constexpr const char *kSets[] = {"xyzw", "rgba"};
    if (letters.size() >= 1 && letters.size() <= 4) {
        for (const char *set : kSets) {
            uint8_t s = 0;
            unsigned last = 0;
            bool ok = true;
            for (size_t i = 0; i < 4; ++i) {
                if (i < letters.size()) {
                    const char *pos = std::strchr(set, letters[i]);
                    if (!pos || letters[i] == '\0') {
                        ok = false;
                        break;
                    }
                    last = static_cast<unsigned>(pos - set);
                }
                s = static_cast<uint8_t>(s | (last << (2 * i)));
            }
            if (ok) {
                *swizzle = s;
                return true;
            }
        }
    }
    *error = "bad swizzle " + Quoted(letters);
    return false;
}

bool LineAssembler::Destination(std::string_view text, DestinationParameter *dst, std::string *error) {
    std::string_view s = text;
    RegisterRef reg;
    if (!Register(s, &reg, error)) return false;
    if (reg.relative) {
        *error = "a destination cannot use a relative address";
        return false;
    }
    dst->type = reg.type;
    dst->number = reg.number;
    dst->writeMask = 0xF;
    if (!s.empty() && s[0] == '.') {
        s.remove_prefix(1);
        size_t n = 0;
        while (n < s.size() && IsLetter(s[n])) ++n;
        if (!ParseMask(s.substr(0, n), &dst->writeMask, error)) return false;
        s.remove_prefix(n);
    }
    if (!s.empty()) {
        *error = "unexpected " + Quoted(s) + " after destination " + Quoted(text.substr(0, text.size() - s.size()));
        return false;
    }
    return true;
}

bool LineAssembler::Source(std::string_view text, SourceParameter *src, std::string *error) {
    std::string_view s = text;
    bool negate = false;
    bool complement = false;
    if (!s.empty() && s[0] == '-') {
        negate = true;
        s.remove_prefix(1);
    }
    if (s.size() >= 2 && s[0] == '1' && s[1] == '-') {
        if (negate) {
            *error = "'-' and '1-' cannot be combined";
            return false;
        }
        complement = true;
        s.remove_prefix(2);
    }
    RegisterRef reg;
    if (!Register(s, &reg, error)) return false;
    src->type = reg.type;
    src->number = reg.number;
    src->relative = reg.relative;
    src->address = reg.relative ? reg.address : RelativeAddress{};
    src->swizzle = kIdentitySwizzle;
    std::string_view modifier;
    bool haveSwizzle = false;
    while (!s.empty()) {
        char lead = s[0];
        if (lead != '_' && lead != '.') break;
        s.remove_prefix(1);
        size_t n = 0;
        while (n < s.size() && (IsLetter(s[n]) || IsDigit(s[n]))) ++n;
        std::string_view word = s.substr(0, n);
        s.remove_prefix(n);
        if (lead == '_') {
            if (!modifier.empty()) {
                *error = "two source modifiers on " + Quoted(text);
                return false;
            }
            modifier = word.empty() ? std::string_view("_") : word;
        } else {
            if (haveSwizzle) {
                *error = "two swizzles on " + Quoted(text);
                return false;
            }
            if (!ParseSwizzle(word, &src->swizzle, error)) return false;
            haveSwizzle = true;
        }
    }
    if (!s.empty()) {
        *error = "unexpected " + Quoted(s) + " in source " + Quoted(text);
        return false;
    }
    uint8_t m = D3DSPSM_NONE;
    if (modifier.empty()) {
        m = negate ? D3DSPSM_NEG : complement ? D3DSPSM_COMP : D3DSPSM_NONE;
    } else if (complement) {
        *error = "'1-' cannot be combined with _" + std::string(modifier);
        return false;
    } else if (modifier == "bias") {
        m = negate ? D3DSPSM_BIASNEG : D3DSPSM_BIAS;
    } else if (modifier == "bx2") {
        m = negate ? D3DSPSM_SIGNNEG : D3DSPSM_SIGN;
    } else if (modifier == "x2") {
        m = negate ? D3DSPSM_X2NEG : D3DSPSM_X2;
    } else if (modifier == "abs") {
        m = negate ? D3DSPSM_ABSNEG : D3DSPSM_ABS;
    } else if ((modifier == "dz" || modifier == "db" || modifier == "dw" || modifier == "da") && !negate) {
        m = (modifier == "dz" || modifier == "db") ? D3DSPSM_DZ : D3DSPSM_DW;
    } else {
        *error = "unknown source modifier " + Quoted("_" + std::string(modifier)) + (negate ? " with '-'" : "");
        return false;
    }
    src->modifier = m;
    return true;
}

bool LineAssembler::Declaration(std::string_view modifiers, std::vector<std::string_view> &operands,
                                ShaderInstruction *ins, std::string *error) {
    if (operands.size() != 1) {
        *error = "dcl takes one register";
        return false;
    }
    DWORD declaration = kParameterBit;
    uint8_t resultModifiers = 0;
    bool haveKind = false;
    while (!modifiers.empty()) {
        size_t next = modifiers.find('_', 1);
        std::string_view part = modifiers.substr(1, next == std::string_view::npos ? next : next - 1);
        modifiers = next == std::string_view::npos ? std::string_view() : modifiers.substr(next);
        if (part == "pp") {
            resultModifiers |= kResultPartialPrecision;
            continue;
        }
        if (part == "centroid") {
            resultModifiers |= kResultCentroid;
            continue;
        }
        if (haveKind) {
            *error = "dcl takes one usage, not " + Quoted(part);
            return false;
        }
        haveKind = true;
        if (part == "2d" || part == "cube" || part == "volume") {
            if (vertex_) {
                *error = "vs_1_1 and vs_2_0 have no samplers to declare";
                return false;
            }
            DWORD type = part == "2d" ? D3DSTT_2D : part == "cube" ? D3DSTT_CUBE : D3DSTT_VOLUME;
            declaration |= type << 27;
            continue;
        }
        static constexpr const char *kUsages[] = {"position", "blendweight", "blendindices", "normal",
                                                  "psize",    "texcoord",    "tangent",      "binormal",
                                                  "tessfactor", "positiont", "color",        "fog",
                                                  "depth",    "sample"};
        size_t letters = 0;
        while (letters < part.size() && IsLetter(part[letters])) ++letters;
        std::string_view usage = part.substr(0, letters);
        std::string_view index = part.substr(letters);
        int found = -1;
        for (int u = 0; u < static_cast<int>(std::size(kUsages)); ++u) {
            if (usage == kUsages[u]) found = u;
        }
        uint32_t usageIndex = 0;
        if (found < 0 || (!index.empty() && !ParseUnsigned(index, 15, &usageIndex))) {
            *error = "unknown declaration " + Quoted("dcl_" + std::string(part));
            return false;
        }
        if (!vertex_) {
            *error = "usage declarations such as " + Quoted("dcl_" + std::string(part)) + " are for vertex shaders";
            return false;
        }
        declaration |= static_cast<DWORD>(found) | (usageIndex << 16);
    }
    ins->opcode = D3DSIO_DCL;
    ins->declaration = declaration;
    ins->hasDestination = true;
    if (!Destination(operands[0], &ins->destination, error)) return false;
    ins->destination.modifiers = resultModifiers;
    if (vertex_ && !haveKind) {
        *error = "a vertex input needs a usage (dcl_position, dcl_color, dcl_texcoord...)";
        return false;
    }
    bool sampler = ins->destination.type == D3DSPR_SAMPLER;
    if (!vertex_ && sampler != (ins->SamplerType() != 0)) {
        *error = sampler ? "a sampler needs a texture type (dcl_2d, dcl_cube, dcl_volume)"
                         : "only samplers take a texture type";
        return false;
    }
    return true;
}

bool ParseFloat(std::string_view text, float *value) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (!text.empty() && text.back() == 'f' && text.size() > 1 && text[text.size() - 2] != 'n') {
        text.remove_suffix(1); // 1.0f
    }
    if (text.empty()) return false;
    const char *end = text.data() + text.size();
    auto result = std::from_chars(text.data(), end, *value);
    return result.ec == std::errc() && result.ptr == end;
}

bool LineAssembler::Definition(std::vector<std::string_view> &operands, ShaderInstruction *ins,
                               std::string *error) {
    size_t count = ins->opcode == D3DSIO_DEFB ? 1 : 4;
    const char *name = ShaderOpcodeName(version_, ins->opcode);
    if (operands.size() != count + 1) {
        *error = std::string(name) + " takes a register and " + std::to_string(count) + " value" +
                 (count > 1 ? "s" : "");
        return false;
    }
    ins->hasDestination = true;
    if (!Destination(operands[0], &ins->destination, error)) return false;
    for (size_t i = 0; i < count; ++i) {
        std::string_view t = operands[i + 1];
        if (ins->opcode == D3DSIO_DEF) {
            float f;
            if (!ParseFloat(t, &f)) {
                *error = "bad number " + Quoted(t);
                return false;
            }
            std::memcpy(&ins->values[i], &f, sizeof f);
        } else if (ins->opcode == D3DSIO_DEFI) {
            int32_t v = 0;
            std::string_view digits = t;
            if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
            auto result = std::from_chars(digits.data(), digits.data() + digits.size(), v);
            if (digits.empty() || result.ec != std::errc() || result.ptr != digits.data() + digits.size()) {
                *error = "bad integer " + Quoted(t);
                return false;
            }
            ins->values[i] = static_cast<DWORD>(v);
        } else {
            if (t == "true" || t == "1") {
                ins->values[i] = 1;
            } else if (t == "false" || t == "0") {
                ins->values[i] = 0;
            } else {
                *error = "bad boolean " + Quoted(t) + " (true or false)";
                return false;
            }
        }
    }
    return true;
}

bool LineAssembler::Instruction(std::string_view line, ShaderInstruction *ins, std::string *error) {
    std::string_view s = line;
    if (!s.empty() && s[0] == '+') {
        ins->coissue = true;
        s = Trim(s.substr(1));
    }
    size_t n = 0;
    while (n < s.size() && (IsLetter(s[n]) || IsDigit(s[n]) || s[n] == '_')) ++n;
    std::string_view word = s.substr(0, n);
    std::string_view rest = Trim(s.substr(n));
    if (word.empty()) {
        *error = "expected an instruction, found " + Quoted(s);
        return false;
    }
    if (n < s.size() && !IsSpace(s[n])) {
        *error = "unexpected " + Quoted(s.substr(n)) + " after " + Quoted(word);
        return false;
    }
    // Operands, blanks removed.
    std::vector<std::string_view> operands;
    std::vector<std::string> storage;
    if (!rest.empty()) {
        std::string compact;
        for (char c : rest) {
            if (!IsSpace(c)) compact += c;
        }
        storage.push_back(compact);
        std::string_view all = storage.back();
        size_t start = 0;
        for (;;) {
            size_t comma = all.find(',', start);
            std::string_view operand = all.substr(start, comma == std::string_view::npos ? comma : comma - start);
            if (operand.empty()) {
                *error = "missing operand";
                return false;
            }
            operands.push_back(operand);
            if (comma == std::string_view::npos) break;
            start = comma + 1;
        }
    }

    size_t underscore = word.find('_');
    std::string base(word.substr(0, underscore));
    std::string_view modifiers = underscore == std::string_view::npos ? std::string_view() : word.substr(underscore);
    if (base == "dcl") return Declaration(modifiers, operands, ins, error);

    uint16_t opcode;
    uint8_t control;
    bool available;
    if (!FindShaderOpcode(version_, base, &opcode, &control, &available)) {
        *error = "unknown instruction " + Quoted(base);
        return false;
    }
    if (!available) {
        *error = "instruction " + Quoted(base) + " is not available in " + ShaderVersionName(version_);
        return false;
    }
    ins->opcode = opcode;
    ins->control = control;
    if (opcode == D3DSIO_DEF || opcode == D3DSIO_DEFI || opcode == D3DSIO_DEFB) {
        if (!modifiers.empty()) {
            *error = "a definition takes no modifier";
            return false;
        }
        return Definition(operands, ins, error);
    }

    // Instruction modifiers: _sat, _pp, _centroid, _x2, _x4, _x8, _d2, _d4, _d8.
    uint8_t resultModifiers = 0;
    int8_t shift = 0;
    while (!modifiers.empty()) {
        size_t next = modifiers.find('_', 1);
        std::string_view part = modifiers.substr(1, next == std::string_view::npos ? next : next - 1);
        modifiers = next == std::string_view::npos ? std::string_view() : modifiers.substr(next);
        uint8_t bit = 0;
        int8_t scale = 0;
        if (part == "sat") bit = kResultSaturate;
        else if (part == "pp") bit = kResultPartialPrecision;
        else if (part == "centroid") bit = kResultCentroid;
        else if (part == "x2") scale = 1;
        else if (part == "x4") scale = 2;
        else if (part == "x8") scale = 3;
        else if (part == "d2") scale = -1;
        else if (part == "d4") scale = -2;
        else if (part == "d8") scale = -3;
        if ((bit == 0 && scale == 0) || (bit & resultModifiers) || (scale && shift)) {
            *error = "unknown or repeated instruction modifier " + Quoted("_" + std::string(part));
            return false;
        }
        resultModifiers |= bit;
        if (scale) shift = scale;
    }

    int destinations = 0, sources = 0;
    ShaderOperandCounts(version_, opcode, &destinations, &sources);
    if (operands.size() != static_cast<size_t>(destinations + sources)) {
        *error = "instruction " + Quoted(base) + " takes " + std::to_string(destinations + sources) + " operand" +
                 (destinations + sources == 1 ? "" : "s") + ", not " + std::to_string(operands.size());
        return false;
    }
    if ((resultModifiers || shift) && destinations == 0) {
        *error = "instruction " + Quoted(base) + " takes no modifier";
        return false;
    }
    size_t next = 0;
    if (destinations) {
        ins->hasDestination = true;
        if (!Destination(operands[next++], &ins->destination, error)) return false;
        ins->destination.modifiers = resultModifiers;
        ins->destination.shift = shift;
    }
    ins->sourceCount = static_cast<uint8_t>(sources);
    for (int i = 0; i < sources; ++i) {
        if (!Source(operands[next++], &ins->sources[i], error)) return false;
    }
    return true;
}

// Parses a version name: vs_1_1, vs.1.1, ps_2_0 ...
bool ParseVersion(std::string_view word, DWORD *version) {
    if (word.size() != 6) return false;
    bool vertex = word.substr(0, 2) == "vs";
    if (!vertex && word.substr(0, 2) != "ps") return false;
    char sep = word[2];
    if ((sep != '_' && sep != '.') || word[4] != sep || !IsDigit(word[3]) || !IsDigit(word[5])) return false;
    DWORD major = static_cast<DWORD>(word[3] - '0');
    DWORD minor = static_cast<DWORD>(word[5] - '0');
    *version = (vertex ? 0xFFFE0000u : 0xFFFF0000u) | (major << 8) | minor;
    return true;
}

bool LooksLikeVersion(std::string_view word) {
    return word.size() >= 4 && (word.substr(0, 3) == "vs_" || word.substr(0, 3) == "ps_" ||
                                word.substr(0, 3) == "vs." || word.substr(0, 3) == "ps.");
}

constexpr size_t kMaxMessages = 50;

} // namespace

HRESULT D3DXCreateBuffer(DWORD size, ID3DXBuffer **buffer) {
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    try {
        *buffer = new Buffer(size);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

namespace qrv::d3dx9 {

bool AssembleShader(std::string_view text, const char *fileName, std::vector<DWORD> *tokens,
                    std::string *messages) {
    std::string name = fileName && *fileName ? fileName : "memory";
    std::string log;
    size_t count = 0;
    auto report = [&](uint32_t line, const std::string &what) {
        if (count++ >= kMaxMessages) return;
        log += name + "(" + std::to_string(line) + "): error: " + what + "\n";
    };
    try {
        std::vector<SourceLine> lines = SplitLines(text);
        ShaderProgram program;
        uint32_t lastLine = lines.empty() ? 1 : lines.back().number;
        size_t first = 0;
        if (lines.empty()) {
            report(1, "the text holds no shader (it starts with a version such as vs_1_1 or ps_2_0)");
        } else {
            std::string_view head = lines[0].text;
            size_t n = 0;
            while (n < head.size() && !IsSpace(head[n])) ++n;
            std::string_view word = head.substr(0, n);
            if (!ParseVersion(word, &program.version)) {
                report(lines[0].number, LooksLikeVersion(word)
                                            ? "unknown shader version " + Quoted(word)
                                            : "the shader must start with its version (vs_1_1, ps_2_0...), not " +
                                                  Quoted(word));
            } else if (!IsSupportedShaderVersion(program.version)) {
                report(lines[0].number, "shader version " + Quoted(word) + " is not supported (vs_1_1, vs_2_0, "
                                        "ps_1_1 to ps_1_4 and ps_2_0 are)");
            } else if (!Trim(head.substr(n)).empty()) {
                report(lines[0].number, "unexpected " + Quoted(Trim(head.substr(n))) + " after the version");
            }
            first = 1;
        }
        if (count == 0) {
            LineAssembler assembler(program.version);
            ShaderValidator validator(program.version);
            for (size_t i = first; i < lines.size(); ++i) {
                ShaderInstruction ins;
                ins.line = lines[i].number;
                std::string error;
                std::string_view head = lines[i].text;
                if (head[0] == '#') {
                    report(ins.line, "preprocessor directives are not supported");
                    continue;
                }
                size_t n = 0;
                while (n < head.size() && !IsSpace(head[n])) ++n;
                DWORD ignored;
                if (ParseVersion(head.substr(0, n), &ignored)) {
                    report(ins.line, "a second version instruction");
                    continue;
                }
                if (!assembler.Instruction(head, &ins, &error) || !validator.Check(ins, &error)) {
                    report(ins.line, error);
                    continue;
                }
                program.instructions.push_back(std::move(ins));
            }
            std::string error;
            if (count == 0 && !validator.Finish(&error)) report(lastLine, error);
        }
        if (count > kMaxMessages) {
            log += name + ": " + std::to_string(count - kMaxMessages) + " more errors\n";
        }
        if (count == 0) {
            if (tokens) *tokens = Encode(program);
            if (messages) messages->clear();
            return true;
        }
    } catch (const std::bad_alloc &) {
        log += name + ": error: out of memory\n";
    }
    if (tokens) tokens->clear();
    if (messages) *messages = log;
    return false;
}

HRESULT AssembleShaderText(std::string_view text, const char *fileName, ID3DXBuffer **shader,
                           ID3DXBuffer **errors) {
    if (errors) *errors = nullptr;
    if (!shader) return D3DERR_INVALIDCALL;
    *shader = nullptr;
    std::vector<DWORD> tokens;
    std::string messages;
    if (!AssembleShader(text, fileName, &tokens, &messages)) {
        std::fputs(messages.c_str(), stderr);
        if (errors) MakeBuffer(messages.c_str(), messages.size() + 1, errors);
        return D3DXERR_INVALIDDATA;
    }
    return MakeBuffer(tokens.data(), tokens.size() * sizeof(DWORD), shader);
}

} // namespace qrv::d3dx9

HRESULT D3DXAssembleShaderFromFileA(const char *path, const void *defines, void *include, DWORD /*flags*/,
                                    ID3DXBuffer **shader, ID3DXBuffer **errors) {
    if (errors) *errors = nullptr;
    if (shader) *shader = nullptr;
    auto fail = [&](HRESULT hr, const std::string &message) {
        std::string line = message + "\n";
        std::fputs(line.c_str(), stderr);
        if (errors) MakeBuffer(line.c_str(), line.size() + 1, errors);
        return hr;
    };
    if (!path) return fail(D3DERR_INVALIDCALL, "D3DXAssembleShaderFromFile: error: no file name");
    if (!shader) return fail(D3DERR_INVALIDCALL, std::string(path) + ": error: no place for the shader");
    if (defines || include) {
        return fail(E_NOTIMPL, std::string(path) + ": error: defines and include handlers are not supported");
    }
    constexpr size_t kMaxFileBytes = 16u << 20;
    std::FILE *file = std::fopen(path, "rb");
    if (!file) {
        return fail(D3DXERR_INVALIDDATA, std::string(path) + ": error: cannot open the file (" +
                                             std::strerror(errno) + ")");
    }
    std::string text;
    char chunk[8192];
    bool tooLarge = false;
    for (;;) {
        size_t got = std::fread(chunk, 1, sizeof chunk, file);
        text.append(chunk, got);
        if (text.size() > kMaxFileBytes) {
            tooLarge = true;
            break;
        }
        if (got < sizeof chunk) break;
    }
    bool readError = std::ferror(file) != 0;
    std::fclose(file);
    if (readError) return fail(D3DXERR_INVALIDDATA, std::string(path) + ": error: cannot read the file");
    if (tooLarge) return fail(D3DXERR_INVALIDDATA, std::string(path) + ": error: the file is too large");
    return qrv::d3dx9::AssembleShaderText(text, path, shader, errors);
}
