#include "model/q3d_text.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits>

#include <locale.h>

namespace qrv::model {

namespace {

// The blanks atoi and scanf skip (isspace in the C locale).
bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads "%d" at the front of text: blanks, a sign, at least one digit. Moves text
// past what was read; false (text unchanged) when there is no number.
bool ReadInt(std::string_view &text, int32_t &value) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    const size_t digits = i;
    // Past 2^31 the value only saturates; the digits are still consumed.
    constexpr int64_t kLimit = int64_t{1} << 31;
    int64_t magnitude = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (magnitude < kLimit) magnitude = magnitude * 10 + (text[i] - '0');
        ++i;
    }
    if (i == digits) return false;
    if (negative) {
        value = magnitude >= kLimit ? std::numeric_limits<int32_t>::min()
                                    : static_cast<int32_t>(-magnitude);
    } else {
        value = magnitude >= kLimit - 1 ? std::numeric_limits<int32_t>::max()
                                        : static_cast<int32_t>(magnitude);
    }
    text.remove_prefix(i);
    return true;
}

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

} // namespace

DataKey::DataKey(uint64_t n) {
    std::memcpy(text_, "Data", 4);
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, n);
    const size_t length = static_cast<size_t>(result.ptr - digits);
    size_t at = 4;
    for (size_t pad = length; pad < 4; ++pad) text_[at++] = '0';
    std::memcpy(text_ + at, digits, length);
    size_ = at + length;
    text_[size_] = '\0';
}

std::string ReplaceLastThree(const char *path, std::string_view ending) {
    if (!path) return {};
    const size_t length = std::strlen(path);
    if (length < 3) return {};
    std::string out(path, length - 3);
    out.append(ending);
    return out;
}

int32_t LeadingInt(std::string_view text) {
    int32_t value = 0;
    return ReadInt(text, value) ? value : 0;
}

int ScanInts(std::string_view text, int32_t *values, int count) {
    int read = 0;
    for (; read < count; ++read) {
        if (read > 0) {
            // A literal comma in the format matches only a comma, blanks before it
            // included.
            if (text.empty() || text.front() != ',') break;
            text.remove_prefix(1);
        }
        if (!ReadInt(text, values[read])) break;
    }
    for (int i = read; i < count; ++i) values[i] = 0;
    return read;
}

int ScanFloats(std::string_view text, float *values, int count) {
    // strtof needs a terminated string; the entries are short.
    const std::string copy(text);
    const char *at = copy.c_str();
    int read = 0;
    for (; read < count; ++read) {
        if (read > 0) {
            if (*at != ',') break;
            ++at;
        }
        char *end = nullptr;
        const float value = strtof_l(at, &end, CLocale());
        if (end == at) break;
        values[read] = value;
        at = end;
    }
    for (int i = read; i < count; ++i) values[i] = 0.0f;
    return read;
}

int32_t RowCursor::NextValue() {
    // The common point: up to nine digits, perhaps a minus, then the comma.
    const char *const begin = rest_.data();
    const char *const end = begin + rest_.size();
    const char *at = begin;
    const bool negative = at != end && *at == '-';
    if (negative) ++at;
    const char *const digits = at;
    uint32_t magnitude = 0;
    while (at != end && at - digits < 9 && static_cast<unsigned>(*at - '0') < 10) {
        magnitude = magnitude * 10 + static_cast<uint32_t>(*at - '0');
        ++at;
    }
    if (at != end && *at == ',' && at != digits) {
        rest_.remove_prefix(static_cast<size_t>(at + 1 - begin));
        const auto value = static_cast<int32_t>(magnitude);
        return negative ? -value : value;
    }

    const size_t comma = rest_.find(',');
    if (comma == std::string_view::npos) return 0;
    const int32_t value = LeadingInt(rest_.substr(0, comma));
    rest_.remove_prefix(comma + 1);
    return value;
}

void RowCursor::NextColour(int32_t rgb[3]) {
    size_t third = std::string_view::npos;
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        third = rest_.find(',', from);
        if (third == std::string_view::npos) break;
        from = third + 1;
    }
    if (third == std::string_view::npos) {
        rgb[0] = rgb[1] = rgb[2] = 0;
        return;
    }
    ScanInts(rest_.substr(0, third), rgb, 3);
    rest_.remove_prefix(third + 1);
}

void AppendValue(std::string &out, int64_t value) {
    char digits[24];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, static_cast<size_t>(result.ptr - digits));
    out.push_back(',');
}

SmallValueText::SmallValueText() {
    for (unsigned v = 0; v < 256; ++v) {
        const auto result = std::to_chars(text_[v], text_[v] + 3, v);
        *result.ptr = ',';
        length_[v] = static_cast<unsigned char>(result.ptr - text_[v] + 1);
    }
}

} // namespace qrv::model
