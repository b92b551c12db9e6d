// ReadPhotoSize over arbitrary file contents: the BMP header and the JPEG marker
// walk must end, and read nothing but the file.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "view/strip_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // One in-memory file, rewritten for every input and opened by path as a photo.
    static const int fd = memfd_create("photo", 0);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    const qrv::PhotoSize photo = qrv::ReadPhotoSize(path.c_str());
    // A JPEG's sizes are 16-bit; only a BMP gives other values.
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xD8 &&
        (photo.width < 0 || photo.width > 0xFFFF || photo.height < 0 || photo.height > 0xFFFF))
        __builtin_trap();
    return 0;
}
