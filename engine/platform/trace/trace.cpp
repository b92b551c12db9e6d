// The error tracer: the report goes to stderr; with the pop-up flag a modal Yes/No
// box asks whether to debug, where a desktop is there to show it.
#include "trace.h"

#include <cerrno>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "platform/d3d9/d3d9.h"

namespace qrv::trace {
namespace {

Sink *g_sink = nullptr;

std::string Format(const char *format, const std::string &a) {
    const int n = std::snprintf(nullptr, 0, format, a.c_str());
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(out.data(), out.size() + 1, format, a.c_str());
    return out;
}

bool DesktopPresent() {
    const char *display = std::getenv("DISPLAY");
    const char *wayland = std::getenv("WAYLAND_DISPLAY");
    return (display && *display) || (wayland && *wayland);
}

bool DebuggerAttached() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) return std::atoi(line.c_str() + 10) != 0;
    }
    return false;
}

std::string FindProgram(const char *name) {
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        const size_t end = dirs.find(':', start);
        std::string candidate = dirs.substr(start, end == std::string::npos ? std::string::npos
                                                                            : end - start);
        candidate += "/";
        candidate += name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return {};
}

// Runs argv and waits for it; returns its exit status, or -1 when it could not run.
int RunAndWait(const std::vector<std::string> &argv) {
    std::vector<char *> args;
    for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The box, through whichever dialog program the desktop has. No program, or no
// desktop: the answer is No.
bool AskWithDialog(const std::string &caption, const std::string &text) {
    if (!DesktopPresent()) return false;
    std::string program;
    if (!(program = FindProgram("zenity")).empty()) {
        return RunAndWait({program, "--question", "--title=" + caption, "--text=" + text,
                           "--ok-label=Yes", "--cancel-label=No", "--no-markup"}) == 0;
    }
    if (!(program = FindProgram("kdialog")).empty()) {
        return RunAndWait({program, "--title", caption, "--yesno", text}) == 0;
    }
    if (!(program = FindProgram("xmessage")).empty()) {
        return RunAndWait({program, "-center", "-title", caption, "-buttons", "Yes:0,No:1",
                           text}) == 0;
    }
    return false;
}

} // namespace

void SetSink(Sink *sink) { g_sink = sink; }

HRESULT DXTrace(const char *file, DWORD line, HRESULT hr, const char *message, BOOL popUp) {
    const std::string fileText = file ? file : "";
    const std::string lineText = std::to_string(line);
    const std::string messageText = message ? message : "";
    char code[16];
    std::snprintf(code, sizeof code, "0x%08" PRIx32, static_cast<uint32_t>(hr));
    const std::string errorText = std::string(D3DErrorName(hr)) + " (" + code + ")";

    // The three pieces of debug output: "<file>(<line>): ", the message, " (hr=<error>)".
    const std::string pieces[3] = {fileText + "(" + lineText + "): ", messageText,
                                   Format(" (hr=%s)", errorText)};
    for (const std::string &piece : pieces) {
        if (g_sink)
            g_sink->DebugOutput(piece);
        else
            std::fputs(piece.c_str(), stderr);
    }
    if (!g_sink) {
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    if (popUp) {
        const std::string caption = "Unexpected error encountered";
        const std::string text = "File: " + fileText + "\nLine: " + lineText +
                                 "\nError Code: " + errorText + "\nCalling: " + messageText +
                                 "\nDo you want to debug the application?";
        const bool yes = g_sink ? g_sink->AskYesNo(caption, text) : AskWithDialog(caption, text);
        if (yes && DebuggerAttached()) std::raise(SIGTRAP);
    }
    return hr;
}

} // namespace qrv::trace
