// Segments and the loader.
#include "midi/segment.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "midi/music_time.h"
#include "midi/performance.h"

namespace qrv::midi {

Segment::Segment(std::vector<uint8_t> bytes, const SmfInfo &info)
    : bytes_(std::make_shared<const std::vector<uint8_t>>(std::move(bytes))),
      division_(info.division), lengthTicks_(info.lengthTicks),
      length_(TicksToMusicTime(info.lengthTicks, info.division)) {}

bool Segment::SetStartPoint(int64_t musicTime) {
    if (musicTime < 0 || musicTime > length_) return false;
    startPoint_ = musicTime;
    return true;
}

bool Segment::Download(const Performance &performance) {
    downloaded_ = performance.HasInstruments();
    return downloaded_;
}

void Segment::Unload(Performance &performance) {
    performance.Unload(*this);
    downloaded_ = false;
}

namespace {

// Reads a whole regular file of at most limit bytes. Opening does not block on a
// FIFO or device, and nothing larger than the limit is read.
bool ReadSmallFile(const std::string &path, size_t limit, std::vector<uint8_t> &out) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= 0 &&
              static_cast<uint64_t>(info.st_size) <= limit;
    if (ok) {
        out.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < out.size()) {
            const ssize_t n = read(fd, out.data() + done, out.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break; // the file shrank or failed: use what the check accepts
            done += static_cast<size_t>(n);
        }
        out.resize(done);
    }
    close(fd);
    return ok;
}

} // namespace

std::unique_ptr<Segment> Loader::LoadObjectFromFile(const std::string &path) {
    std::vector<uint8_t> bytes;
    if (!ReadSmallFile(path, kMaxFileBytes, bytes)) return nullptr;
    const std::optional<SmfInfo> info = ParseSmf(bytes);
    if (!info) return nullptr;
    return std::make_unique<Segment>(std::move(bytes), *info);
}

} // namespace qrv::midi
