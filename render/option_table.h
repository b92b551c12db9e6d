// The table-driven command-line machinery both of qrv-render's roads are made
// of: one table of options per road, from which its parser and its --help
// option list are made.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace qrv::render {

// Reads a whole decimal integer within [low, high].
bool ParseInt(const std::string &text, int low, int high, int &out);

// Splits "a<sep>b<sep>c" into exactly count integers within [low, high].
bool ParseInts(const std::string &text, char sep, int count, int low, int high, int *out);

// "WxH" (or "WXH"), each 1 to 8192, into width and height. Returns an error
// message, empty when the size was fine.
std::string ParseFrameSize(const std::string &text, int &width, int &height);

// "X,Y,Z" eye steps, each -100 to 100. Returns an error message, empty when the
// steps were fine.
std::string ParseEyeSteps(const std::string &text, int (&steps)[3]);

// Folds text to lines of at most width characters, each indented by indent.
std::string Wrap(const std::string &text, size_t indent, size_t width);

// One option of a road's table, applied to that road's settings S.
template <typename S> struct Option {
    char shortName;      // 0 when there is none
    const char *name;    // without the leading "--"
    const char *argName; // null for a flag
    const char *help;
    // Applies the option; returns an error message, empty when it was fine.
    std::function<std::string(S &, const std::string &)> apply;
};

// The head line of an option in --help: "  -o, --output FILE" or "      --flat".
std::string OptionHead(char shortName, const char *name, const char *argName);

// The options' part of --help: each option's head line, then its help folded.
template <typename S> std::string OptionsHelp(const std::vector<Option<S>> &options) {
    std::string text;
    for (const Option<S> &o : options)
        text += OptionHead(o.shortName, o.name, o.argName) + "\n" + Wrap(o.help, 8, 80);
    return text;
}

// What a road's parser says of itself in its messages.
struct CommandLineWords {
    const char *operand; // what the one operand is, e.g. "photo"
    const char *seeHelp; // how help is asked for, e.g. "--help"
};

// Parses argv[first ..] against options into s: "--name=value", "--name value",
// "-x value", flags, "--" before operands only, and at most one operand, which
// goes to s.*operand. On a bad command line returns false with a one-line
// message in error.
template <typename S>
bool ParseOptions(int argc, const char *const *argv, int first,
                  const std::vector<Option<S>> &options, std::string S::*operand,
                  const CommandLineWords &words, S &s, std::string &error) {
    bool onlyOperands = false;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyOperands || arg.size() < 2 || arg[0] != '-') {
            if (!(s.*operand).empty()) {
                error = std::string("more than one ") + words.operand + " given ('" + s.*operand +
                        "' and '" + arg + "')";
                return false;
            }
            s.*operand = arg;
            continue;
        }
        if (arg == "--") {
            onlyOperands = true;
            continue;
        }
        const Option<S> *found = nullptr;
        std::string value;
        bool hasInlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            const std::string name =
                arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            if (eq != std::string::npos) {
                value = arg.substr(eq + 1);
                hasInlineValue = true;
            }
            for (const Option<S> &o : options)
                if (name == o.name) found = &o;
        } else if (arg.size() == 2) {
            for (const Option<S> &o : options)
                if (o.shortName == arg[1]) found = &o;
        }
        if (!found) {
            error = "unknown option '" + arg + "' (see " + words.seeHelp + ")";
            return false;
        }
        if (found->argName) {
            if (!hasInlineValue) {
                if (i + 1 >= argc) {
                    error = std::string("option --") + found->name + " needs " + found->argName;
                    return false;
                }
                value = argv[++i];
            }
        } else if (hasInlineValue) {
            error = std::string("option --") + found->name + " takes no value";
            return false;
        }
        error = found->apply(s, value);
        if (!error.empty()) return false;
    }
    return true;
}

} // namespace qrv::render
