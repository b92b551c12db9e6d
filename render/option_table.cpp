#include "option_table.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace qrv::render {

bool ParseInt(const std::string &text, int low, int high, int &out) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

bool ParseInts(const std::string &text, char sep, int count, int low, int high, int *out) {
    std::string part;
    std::istringstream in(text);
    int n = 0;
    while (std::getline(in, part, sep)) {
        if (n == count || !ParseInt(part, low, high, out[n])) return false;
        ++n;
    }
    return n == count && !text.empty() && text.back() != sep;
}

std::string ParseFrameSize(const std::string &text, int &width, int &height) {
    int wh[2];
    const size_t x = text.find_first_of("xX");
    if (x == std::string::npos ||
        !ParseInts(text.substr(0, x) + "," + text.substr(x + 1), ',', 2, 1, 8192, wh))
        return "bad frame size '" + text + "' (expected WxH, e.g. 640x480)";
    width = wh[0];
    height = wh[1];
    return {};
}

std::string ParseEyeSteps(const std::string &text, int (&steps)[3]) {
    if (!ParseInts(text, ',', 3, -100, 100, steps))
        return "bad eye steps '" + text + "' (expected X,Y,Z, e.g. 3,-2,0)";
    return {};
}

std::string Wrap(const std::string &text, size_t indent, size_t width) {
    std::istringstream words(text);
    std::string word, out, line;
    while (words >> word) {
        if (!line.empty() && indent + line.size() + 1 + word.size() > width) {
            out += std::string(indent, ' ') + line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    if (!line.empty()) out += std::string(indent, ' ') + line + "\n";
    return out;
}

std::string OptionHead(char shortName, const char *name, const char *argName) {
    std::string head = "  ";
    head += shortName ? std::string("-") + shortName + ", " : "    ";
    head += std::string("--") + name;
    if (argName) head += std::string(" ") + argName;
    return head;
}

} // namespace qrv::render
