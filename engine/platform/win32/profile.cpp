// Profile (INI) files: parsed once into sections with a key index, changed in
// memory, written back whole through a temporary file.
#include "profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

namespace qrv::win32 {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string Lower(std::string_view s)
{
    std::string out(s);
    for (char &c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string_view Unquote(std::string_view v)
{
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

bool HasLineBreak(std::string_view s)
{
    // Two plain searches: find_first_of would test the set once per character.
    return s.find('\n') != std::string_view::npos || s.find('\r') != std::string_view::npos;
}

DWORD CopyCut(std::string_view text, char *buffer, DWORD size)
{
    const size_t n = text.size() < size ? text.size() : size - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<DWORD>(n);
}

// Names one after another, each terminated, and a terminator after the last.
DWORD CopyList(const std::vector<std::string> &names, char *buffer, DWORD size)
{
    if (size < 2) {
        buffer[0] = '\0';
        return 0;
    }
    size_t at = 0;
    for (const std::string &name : names) {
        if (at + name.size() + 1 > size - 1) {
            const size_t room = at <= size - 2 ? size - 2 - at : 0;
            std::memcpy(buffer + at, name.data(), room);
            buffer[size - 2] = '\0';
            buffer[size - 1] = '\0';
            return size - 2;
        }
        std::memcpy(buffer + at, name.data(), name.size());
        at += name.size();
        buffer[at++] = '\0';
    }
    buffer[at] = '\0';
    if (at + 1 < size) {
        buffer[at + 1] = '\0';
    }
    return static_cast<DWORD>(at);
}

class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int Get() const { return fd_; }
    bool Close()
    {
        if (fd_ < 0) {
            return true;
        }
        const int rc = close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A new file in folder with a name no one else uses, created with mode 0666 less
// the umask, as any new file.
int CreateTemporary(const std::string &folder, std::string *name)
{
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        *name = folder + "/.qrv-" + std::to_string(getpid()) + "-" +
                std::to_string(counter.fetch_add(1)) + "-" + std::to_string(now.tv_nsec) + ".tmp";
        const int fd = open(name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

} // namespace

bool ProfileFile::Load(const std::string &path)
{
    path_ = path;
    readable_ = false;
    modified_ = false;
    bom_ = false;
    newline_ = Eol::Lf;
    sections_.clear();
    sectionIndex_.clear();
    Parse({});

    const Fd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        // No file yet: an empty profile, which Save will create.
        readable_ = errno == ENOENT;
        return readable_;
    }
    struct stat status {};
    if (fstat(file.Get(), &status) != 0 || S_ISDIR(status.st_mode)) {
        return false;
    }
    // Read without zero-filling first: a model file may be tens of megabytes.
    size_t capacity = static_cast<size_t>(status.st_size) + 4096;
    size_t done = 0;
    try {
        auto text = std::make_unique_for_overwrite<char[]>(capacity);
        while (true) {
            if (done == capacity) {
                // The file grew since its size was taken: read on to its end.
                auto larger = std::make_unique_for_overwrite<char[]>(capacity * 2);
                std::memcpy(larger.get(), text.get(), done);
                text = std::move(larger);
                capacity *= 2;
            }
            const ssize_t n = read(file.Get(), text.get() + done, capacity - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0) {
                return false;
            }
            if (n == 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        sections_.clear();
        Parse(std::string_view(text.get(), done));
    } catch (const std::bad_alloc &) {
        sections_.clear();
        Parse({});
        return false;
    }
    readable_ = true;
    return true;
}

ProfileFile::Line ProfileFile::MakeLine(std::string text, Eol eol)
{
    Line line;
    line.text = std::move(text);
    line.eol = eol;
    const std::string_view view = line.text;
    const std::string_view trimmed = Trim(view);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '[') {
        return line; // blank, comment or header
    }
    const size_t equals = view.find('=');
    if (equals == std::string_view::npos) {
        return line;
    }
    const std::string_view key = Trim(view.substr(0, equals));
    if (key.empty()) {
        return line;
    }
    const std::string_view value = Trim(view.substr(equals + 1));
    line.isEntry = true;
    line.keyBegin = static_cast<size_t>(key.data() - view.data());
    line.keyEnd = line.keyBegin + key.size();
    line.valueBegin = static_cast<size_t>(value.data() - view.data());
    line.valueEnd = line.valueBegin + value.size();
    return line;
}

void ProfileFile::Parse(std::string_view text)
{
    if (text.substr(0, kBom.size()) == kBom) {
        bom_ = true;
        text.remove_prefix(kBom.size());
    }
    sections_.push_back(Section{});
    sections_.back().hasHeader = false;
    bool newlineKnown = false;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view raw = text.substr(0, end);
        Eol eol = Eol::None;
        if (end != std::string_view::npos) {
            eol = Eol::Lf;
            if (!raw.empty() && raw.back() == '\r') {
                raw.remove_suffix(1);
                eol = Eol::CrLf;
            }
            text.remove_prefix(end + 1);
        } else {
            text = {};
        }
        if (!newlineKnown && eol != Eol::None) {
            newline_ = eol;
            newlineKnown = true;
        }
        const std::string_view trimmed = Trim(raw);
        const size_t close = !trimmed.empty() && trimmed.front() == '[' ? trimmed.rfind(']')
                                                                        : std::string_view::npos;
        if (close != std::string_view::npos) {
            Section section;
            section.name = std::string(Trim(trimmed.substr(1, close - 1)));
            Line header;
            header.text = std::string(raw);
            header.eol = eol;
            section.lines.push_back(std::move(header));
            sections_.push_back(std::move(section));
            continue;
        }
        sections_.back().lines.push_back(MakeLine(std::string(raw), eol));
    }
    IndexSections();
    for (size_t i = 0; i < sections_.size(); ++i) {
        IndexSection(i);
    }
}

void ProfileFile::IndexSection(size_t index)
{
    Section &section = sections_[index];
    section.keys.clear();
    section.lastEntry = 0;
    for (size_t i = 0; i < section.lines.size(); ++i) {
        const Line &line = section.lines[i];
        if (!line.isEntry) {
            continue;
        }
        const std::string_view text = line.text;
        section.keys.emplace(Lower(text.substr(line.keyBegin, line.keyEnd - line.keyBegin)), i);
        section.lastEntry = i;
    }
}

void ProfileFile::IndexSections()
{
    sectionIndex_.clear();
    for (size_t i = 1; i < sections_.size(); ++i) {
        sectionIndex_.emplace(Lower(sections_[i].name), i);
    }
}

ProfileFile::Section *ProfileFile::FindSection(std::string_view name)
{
    const auto it = sectionIndex_.find(Lower(Trim(name)));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

const ProfileFile::Section *ProfileFile::FindSection(std::string_view name) const
{
    const auto it = sectionIndex_.find(Lower(Trim(name)));
    return it == sectionIndex_.end() ? nullptr : &sections_[it->second];
}

std::optional<std::string_view> ProfileFile::Find(std::string_view sectionName,
                                                  std::string_view key) const
{
    const Section *section = FindSection(sectionName);
    if (section == nullptr) {
        return std::nullopt;
    }
    const auto it = section->keys.find(Lower(Trim(key)));
    if (it == section->keys.end()) {
        return std::nullopt;
    }
    const Line &line = section->lines[it->second];
    return Unquote(std::string_view(line.text).substr(line.valueBegin,
                                                      line.valueEnd - line.valueBegin));
}

UINT ProfileFile::GetInt(std::string_view section, std::string_view key, INT defaultValue) const
{
    const std::optional<std::string_view> found = Find(section, key);
    if (!found || found->empty()) {
        return static_cast<UINT>(defaultValue);
    }
    std::string_view s = *found;
    bool negative = false;
    if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    unsigned base = 10;
    if (s.size() >= 2 && s[0] == '0') {
        const char prefix = static_cast<char>(s[1] | 0x20);
        base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
        if (base != 10) {
            s.remove_prefix(2);
        }
    }
    const uint64_t limit = negative ? uint64_t{1} << 31 : INT32_MAX;
    uint64_t value = 0;
    for (const char c : s) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f') {
            digit = static_cast<unsigned>((c | 0x20) - 'a' + 10);
        } else {
            break;
        }
        if (digit >= base) {
            break;
        }
        value = value * base + digit;
        if (value > limit) {
            value = limit;
            break;
        }
    }
    return negative ? static_cast<UINT>(0u - static_cast<UINT>(value)) : static_cast<UINT>(value);
}

DWORD ProfileFile::GetString(const char *section, const char *key, const char *defaultValue,
                             char *buffer, DWORD size) const
{
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    if (section == nullptr) {
        return CopyList(SectionNames(), buffer, size);
    }
    if (key == nullptr) {
        return CopyList(KeyNames(section), buffer, size);
    }
    if (const std::optional<std::string_view> value = Find(section, key)) {
        return CopyCut(*value, buffer, size);
    }
    std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
    while (!fallback.empty() && IsBlank(fallback.back())) {
        fallback.remove_suffix(1);
    }
    return CopyCut(fallback, buffer, size);
}

bool ProfileFile::Set(std::string_view sectionName, std::string_view key, std::string_view value)
{
    sectionName = Trim(sectionName);
    key = Trim(key);
    if (HasLineBreak(sectionName) || HasLineBreak(key) || HasLineBreak(value) || key.empty() ||
        key.find('=') != std::string_view::npos || key.front() == ';' || key.front() == '[' ||
        sectionName.find(']') != std::string_view::npos) {
        return false;
    }
    Section *section = FindSection(sectionName);
    if (section == nullptr) {
        // Whatever ends the file gets a line end before the new section.
        for (auto it = sections_.rbegin(); it != sections_.rend(); ++it) {
            if (!it->lines.empty()) {
                if (it->lines.back().eol == Eol::None) {
                    it->lines.back().eol = newline_;
                }
                break;
            }
        }
        Section added;
        added.name = std::string(sectionName);
        Line header;
        header.text = "[" + added.name + "]";
        header.eol = newline_;
        added.lines.push_back(std::move(header));
        sections_.push_back(std::move(added));
        sectionIndex_.emplace(Lower(sectionName), sections_.size() - 1);
        section = &sections_.back();
    }

    const std::string lowerKey = Lower(key);
    if (const auto it = section->keys.find(lowerKey); it != section->keys.end()) {
        Line &line = section->lines[it->second];
        const std::string_view oldKey =
            std::string_view(line.text).substr(line.keyBegin, line.keyEnd - line.keyBegin);
        std::string text;
        text.reserve(oldKey.size() + 1 + value.size());
        text.append(oldKey).append("=").append(value);
        if (text != line.text) {
            line = MakeLine(std::move(text), line.eol);
            modified_ = true;
        }
        return true;
    }

    std::string text;
    text.reserve(key.size() + 1 + value.size());
    text.append(key).append("=").append(value);
    const size_t at = section->lastEntry + 1;
    if (at == section->lines.size() && section == &sections_.back() &&
        section->lines.back().eol == Eol::None) {
        section->lines.back().eol = newline_;
    }
    section->lines.insert(section->lines.begin() + static_cast<ptrdiff_t>(at),
                          MakeLine(std::move(text), newline_));
    section->keys.emplace(lowerKey, at);
    section->lastEntry = at;
    modified_ = true;
    return true;
}

bool ProfileFile::Remove(std::string_view sectionName, std::string_view key)
{
    Section *section = FindSection(sectionName);
    if (section == nullptr) {
        return false;
    }
    const auto it = section->keys.find(Lower(Trim(key)));
    if (it == section->keys.end()) {
        return false;
    }
    section->lines.erase(section->lines.begin() + static_cast<ptrdiff_t>(it->second));
    IndexSection(static_cast<size_t>(section - sections_.data()));
    modified_ = true;
    return true;
}

bool ProfileFile::RemoveSection(std::string_view sectionName)
{
    const Section *section = FindSection(sectionName);
    if (section == nullptr) {
        return false;
    }
    sections_.erase(sections_.begin() + (section - sections_.data()));
    IndexSections();
    modified_ = true;
    return true;
}

std::vector<std::string> ProfileFile::SectionNames() const
{
    std::vector<std::string> names;
    for (size_t i = 1; i < sections_.size(); ++i) {
        names.push_back(sections_[i].name);
    }
    return names;
}

std::vector<std::string> ProfileFile::KeyNames(std::string_view sectionName) const
{
    std::vector<std::string> names;
    const Section *section = FindSection(sectionName);
    if (section == nullptr) {
        return names;
    }
    for (size_t i = 0; i < section->lines.size(); ++i) {
        const Line &line = section->lines[i];
        if (!line.isEntry) {
            continue;
        }
        const std::string_view key =
            std::string_view(line.text).substr(line.keyBegin, line.keyEnd - line.keyBegin);
        const auto it = section->keys.find(Lower(key));
        if (it != section->keys.end() && it->second == i) {
            names.emplace_back(key);
        }
    }
    return names;
}

bool ProfileFile::WriteTo(int fd) const
{
    // Through a buffer of its own size: a 50 MB model never exists twice in memory.
    constexpr size_t kChunk = size_t{1} << 20;
    std::string buffer;
    buffer.reserve(kChunk);
    bool ok = true;
    auto put = [&](std::string_view text) {
        if (buffer.size() + text.size() > kChunk) {
            ok = ok && WriteAll(fd, buffer.data(), buffer.size());
            buffer.clear();
        }
        if (text.size() >= kChunk) {
            ok = ok && WriteAll(fd, text.data(), text.size());
        } else {
            buffer.append(text);
        }
    };
    if (bom_) {
        put(kBom);
    }
    const Line *last = nullptr;
    for (const Section &section : sections_) {
        if (!section.lines.empty()) {
            last = &section.lines.back();
        }
    }
    for (const Section &section : sections_) {
        for (const Line &line : section.lines) {
            put(line.text);
            Eol eol = line.eol;
            if (eol == Eol::None && &line != last) {
                eol = newline_; // only the file's last line may go without
            }
            put(eol == Eol::CrLf ? "\r\n" : eol == Eol::Lf ? "\n" : "");
            if (!ok) {
                return false;
            }
        }
    }
    return ok && WriteAll(fd, buffer.data(), buffer.size());
}

bool ProfileFile::Save()
{
    if (!readable_) {
        return false;
    }
    if (!modified_) {
        return true;
    }
    try {
        // Through a symbolic link to the file it names, so that the link stays.
        std::string target = path_;
        struct stat status {};
        if (lstat(path_.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
            if (char *resolved = realpath(path_.c_str(), nullptr)) {
                target = resolved;
                std::free(resolved);
            }
        }
        const bool exists = stat(target.c_str(), &status) == 0;
        const size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "."
                                   : slash == 0               ? "/"
                                                              : target.substr(0, slash);

        std::string temporary;
        Fd file(CreateTemporary(folder, &temporary));
        if (file.Get() < 0) {
            return false;
        }
        bool written = false;
        try {
            written = WriteTo(file.Get()) &&
                      (!exists || fchmod(file.Get(), status.st_mode & 07777) == 0) &&
                      fsync(file.Get()) == 0;
        } catch (const std::bad_alloc &) {
            written = false; // the temporary file goes below
        }
        if (!file.Close() || !written || rename(temporary.c_str(), target.c_str()) != 0) {
            unlink(temporary.c_str());
            return false;
        }
        // The rename itself reaches the disk with the folder.
        const Fd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.Get() >= 0) {
            fsync(dir.Get());
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    modified_ = false;
    return true;
}

} // namespace qrv::win32

using qrv::win32::ProfileFile;

UINT GetPrivateProfileIntA(const char *section, const char *key, INT defaultValue,
                           const char *path)
{
    if (section == nullptr || key == nullptr || path == nullptr) {
        return static_cast<UINT>(defaultValue);
    }
    ProfileFile file;
    file.Load(path); // an unreadable file reads as an empty one
    return file.GetInt(section, key, defaultValue);
}

DWORD GetPrivateProfileStringA(const char *section, const char *key, const char *defaultValue,
                               char *buffer, DWORD size, const char *path)
{
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    ProfileFile file;
    if (path != nullptr) {
        file.Load(path);
    }
    return file.GetString(section, key, defaultValue, buffer, size);
}

BOOL WritePrivateProfileStringA(const char *section, const char *key, const char *value,
                                const char *path)
{
    if (section == nullptr || path == nullptr) {
        return FALSE;
    }
    ProfileFile file;
    if (!file.Load(path)) {
        return FALSE;
    }
    if (key == nullptr) {
        file.RemoveSection(section);
    } else if (value == nullptr) {
        file.Remove(section, key);
    } else if (!file.Set(section, key, value)) {
        return FALSE;
    }
    return file.Save() ? TRUE : FALSE;
}
