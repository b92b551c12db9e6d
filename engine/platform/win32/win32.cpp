// Win32 services on POSIX.
#include "win32.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

DWORD GetTickCount() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                        static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(ms); // wraps like Win32's, every 2^32 ms
}

void Sleep(DWORD milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

namespace {

// Copies text into a Win32-style buffer of size characters: cut to size - 1 and
// terminated. Returns the characters copied.
DWORD CopyCut(const char *text, size_t length, char *buffer, DWORD size) {
    const size_t n = length < size ? length : size - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

} // namespace

DWORD GetModuleFileNameA(void *module, char *buffer, DWORD size) {
    if (module != nullptr || buffer == nullptr || size == 0) return 0;
    char path[PATH_MAX + 1];
    const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
    if (length <= 0) return 0;
    const DWORD copied = CopyCut(path, static_cast<size_t>(length), buffer, size);
    // Win32 returns the buffer size when the path was cut.
    return static_cast<size_t>(length) >= size ? size : copied;
}

DWORD GetCurrentDirectoryA(DWORD size, char *buffer) {
    char *cwd = getcwd(nullptr, 0);
    if (!cwd) return 0;
    const size_t length = std::strlen(cwd);
    DWORD result;
    if (buffer == nullptr || length + 1 > size) {
        result = static_cast<DWORD>(length + 1); // the size needed, terminator included
    } else {
        result = CopyCut(cwd, length, buffer, size);
    }
    std::free(cwd);
    return result;
}

namespace {

// Decodes one UTF-8 sequence at text[0..available); returns its length (0 when
// malformed) and the code point.
int DecodeUtf8(const unsigned char *text, int available, char32_t *code) {
    const unsigned char lead = text[0];
    int length;
    char32_t value;
    if (lead < 0x80) {
        *code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
    } else {
        return 0;
    }
    if (available < length) return 0;
    for (int i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
        value = (value << 6) | (text[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are malformed.
    static const char32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < minimum[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0;
    *code = value;
    return length;
}

} // namespace

int MultiByteToWideChar(UINT codePage, DWORD flags, const char *text, int bytes,
                        char16_t *wide, int wideSize) {
    constexpr DWORD kErrInvalidChars = 0x8; // MB_ERR_INVALID_CHARS
    if ((codePage != CP_ACP && codePage != CP_UTF8) || text == nullptr || bytes == 0 ||
        bytes < -1 || wideSize < 0 || (wideSize > 0 && wide == nullptr))
        return 0;
    const auto *in = reinterpret_cast<const unsigned char *>(text);
    const size_t total = bytes == -1 ? std::strlen(text) + 1 : static_cast<size_t>(bytes);
    size_t needed = 0;
    bool fits = true;
    auto put = [&](char16_t unit) {
        if (wideSize > 0) {
            if (needed < static_cast<size_t>(wideSize))
                wide[needed] = unit;
            else
                fits = false;
        }
        ++needed;
    };
    for (size_t i = 0; i < total;) {
        char32_t code;
        const int available = static_cast<int>(total - i > 4 ? 4 : total - i);
        int length = DecodeUtf8(in + i, available, &code);
        if (length == 0) {
            if (flags & kErrInvalidChars) return 0;
            code = 0xFFFD; // Win32 replaces each bad byte with U+FFFD
            length = 1;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            put(static_cast<char16_t>(0xD800 + (code >> 10)));
            put(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            put(static_cast<char16_t>(code));
        }
        i += static_cast<size_t>(length);
    }
    if (!fits || needed > INT_MAX) return 0; // ERROR_INSUFFICIENT_BUFFER
    return static_cast<int>(needed);
}

// A file handle is the descriptor plus one, so that neither 0 nor
// INVALID_HANDLE_VALUE is ever a valid handle.
namespace {
int DescriptorOf(HANDLE handle) {
    const auto value = reinterpret_cast<intptr_t>(handle);
    return value > 0 && value <= INT_MAX ? static_cast<int>(value - 1) : -1;
}
} // namespace

HANDLE CreateFileA(const char *path, DWORD access, DWORD /*shareMode*/, void * /*security*/,
                   DWORD creation, DWORD /*flags*/, HANDLE /*templateFile*/) {
    if (path == nullptr || creation != OPEN_EXISTING) return INVALID_HANDLE_VALUE;
    int mode;
    if ((access & GENERIC_READ) && (access & GENERIC_WRITE))
        mode = O_RDWR;
    else if (access & GENERIC_WRITE)
        mode = O_WRONLY;
    else
        mode = O_RDONLY;
    const int fd = open(path, mode | O_CLOEXEC);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd) + 1);
}

BOOL ReadFile(HANDLE file, void *buffer, DWORD bytesToRead, DWORD *bytesRead,
              void * /*overlapped*/) {
    if (bytesRead) *bytesRead = 0;
    const int fd = DescriptorOf(file);
    if (fd < 0 || (buffer == nullptr && bytesToRead > 0)) return FALSE;
    DWORD done = 0;
    auto *out = static_cast<char *>(buffer);
    while (done < bytesToRead) {
        const ssize_t n = read(fd, out + done, bytesToRead - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (bytesRead) *bytesRead = done;
            return FALSE;
        }
        if (n == 0) break; // end of file: success with fewer bytes, as Win32
        done += static_cast<DWORD>(n);
    }
    if (bytesRead) *bytesRead = done;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    const int fd = DescriptorOf(handle);
    return fd >= 0 && close(fd) == 0 ? TRUE : FALSE;
}
