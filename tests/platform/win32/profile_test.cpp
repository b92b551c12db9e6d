// Profile files: reading good and garbage files, writing in place, and writes that
// fail without harming the old file.
#include "platform/win32/profile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qrv::win32::ProfileFile;
namespace fs = std::filesystem;

class Profile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "qrv-profile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "model.q3d").string();
    }
    void TearDown() override
    {
        UnlockFolder();
        fs::remove_all(dir_);
    }

    // No new files in the folder: its write permission taken away, or for root,
    // whom permissions do not bind, the folder made immutable.
    bool LockFolder()
    {
        if (geteuid() != 0) {
            fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
            return true;
        }
        const int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        int flags = 0;
        bool locked = false;
        if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags |= FS_IMMUTABLE_FL;
            locked = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        if (fd >= 0) {
            close(fd);
        }
        immutable_ = locked;
        return locked;
    }
    void UnlockFolder()
    {
        if (immutable_) {
            const int fd = open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            int flags = 0;
            if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0) {
                close(fd);
            }
            immutable_ = false;
        }
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    }

    void Put(const std::string &text, const std::string &path = {})
    {
        std::ofstream file(path.empty() ? path_ : path, std::ios::binary | std::ios::trunc);
        file << text;
    }
    std::string Contents(const std::string &path = {}) const
    {
        std::ifstream file(path.empty() ? path_ : path, std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    std::vector<std::string> FolderEntries() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir_)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

    fs::path dir_;
    std::string path_;
    bool immutable_ = false;
};

// ---- Reading ----------------------------------------------------------------------

TEST_F(Profile, ReadsStringsAsWin32Does)
{
    const std::string longValue(100000, '7');
    struct Case {
        const char *name;
        std::string file;
        const char *section;
        const char *key;
        const char *defaultValue;
        DWORD size;
        std::string expected;
    } cases[] = {
        {"plain", "[Photo]\nWidth=8\n", "Photo", "Width", "d", 64, "8"},
        {"names in any case", "[photo]\nWIDTH=8\n", "PHOTO", "width", "d", 64, "8"},
        {"blanks around names and values", "  [ Photo ]  \n\t Width \t=  8 4 \t\n", "Photo",
         "Width", "d", 64, "8 4"},
        {"blanks around the asked names", "[Photo]\nWidth=8\n", " Photo ", "\tWidth ", "d", 64,
         "8"},
        {"'=' inside the value", "[A]\nk=a=b==c\n", "A", "k", "d", 64, "a=b==c"},
        {"double quotes taken off", "[A]\nk=\"  x  \"\n", "A", "k", "d", 64, "  x  "},
        {"single quotes taken off", "[A]\nk='x'\n", "A", "k", "d", 64, "x"},
        {"unmatched quote kept", "[A]\nk='x\"\n", "A", "k", "d", 64, "'x\""},
        {"first of equal keys", "[A]\nk=1\nK=2\n", "A", "k", "d", 64, "1"},
        {"first of equal sections", "[A]\nk=1\n[a]\nk=2\nj=3\n", "A", "k", "d", 64, "1"},
        {"later equal section not searched", "[A]\nk=1\n[a]\nj=3\n", "A", "j", "d", 64, "d"},
        {"comment is not a key", "[A]\n;k=1\nk=2\n", "A", "k", "d", 64, "2"},
        {"comment cannot be asked for", "[A]\n;k=1\n", "A", ";k", "d", 64, "d"},
        {"keys before any section belong to none", "k=0\n[A]\nj=1\n", "A", "k", "d", 64, "d"},
        {"CRLF line ends", "[A]\r\nk=1\r\nj=2\r\n", "A", "k", "d", 64, "1"},
        {"no final line end", "[A]\nk=1", "A", "k", "d", 64, "1"},
        {"byte order mark", "\xEF\xBB\xBF[A]\nk=1\n", "A", "k", "d", 64, "1"},
        {"missing section", "[A]\nk=1\n", "B", "k", "dflt", 64, "dflt"},
        {"missing key", "[A]\nk=1\n", "A", "j", "dflt", 64, "dflt"},
        {"default loses trailing blanks", "", "A", "k", "dflt \t ", 64, "dflt"},
        {"null default", "", "A", "k", nullptr, 64, ""},
        {"empty value is a value", "[A]\nk=\n", "A", "k", "d", 64, ""},
        {"line without '=' is no key", "[A]\nk\n", "A", "k", "d", 64, "d"},
        {"empty key is no key", "[A]\n=1\n", "A", "", "d", 64, "d"},
        {"cut to the buffer less one", "[A]\nk=abcdef\n", "A", "k", "d", 4, "abc"},
        {"default cut too", "", "A", "k", "abcdef", 3, "ab"},
        {"buffer of one", "[A]\nk=abc\n", "A", "k", "d", 1, ""},
        {"long value whole", "[A]\nk=" + longValue + "\n", "A", "k", "d", 100001, longValue},
        {"long value cut", "[A]\nk=" + longValue + "\n", "A", "k", "d", 1024,
         longValue.substr(0, 1023)},
        {"garbage around", std::string("\x01\xff[[[\n=\n==x\n[A\nk=0\n[B]\0\n", 24) + "[A]\nk=1\n",
         "A", "k", "d", 64, "1"},
        {"header without ']' starts no section", "[A\nk=1\n", "A", "k", "d", 64, "d"},
        {"text after the header", "[A] ; first\nk=1\n", "A", "k", "d", 64, "1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Put(c.file);
        std::vector<char> buffer(c.size + 8, '#');
        const DWORD n =
            GetPrivateProfileStringA(c.section, c.key, c.defaultValue, buffer.data(), c.size,
                                     path_.c_str());
        EXPECT_EQ(n, c.expected.size());
        EXPECT_EQ(std::string(buffer.data()), c.expected);
        EXPECT_EQ(buffer[c.size], '#'); // nothing past the buffer
    }
}

TEST_F(Profile, MissingOrUnreadableFileGivesDefaults)
{
    char buffer[16];
    const std::string missing = (dir_ / "none.q3d").string();
    EXPECT_EQ(GetPrivateProfileStringA("A", "k", "dflt", buffer, sizeof buffer, missing.c_str()),
              4u);
    EXPECT_STREQ(buffer, "dflt");
    EXPECT_EQ(GetPrivateProfileIntA("A", "k", 7, missing.c_str()), 7u);
    // A folder where the file should be.
    EXPECT_EQ(GetPrivateProfileIntA("A", "k", 7, dir_.c_str()), 7u);
    EXPECT_EQ(GetPrivateProfileStringA("A", "k", "x", buffer, sizeof buffer, dir_.c_str()), 1u);
    EXPECT_FALSE(fs::exists(missing)); // reading creates nothing
}

TEST_F(Profile, ReadsIntegers)
{
    struct Case {
        const char *value;
        UINT expected;
    } cases[] = {
        {"8", 8},
        {"  640  ", 640},
        {"-5", static_cast<UINT>(-5)},
        {"+7", 7},
        {"0x1F", 31},
        {"0XfF", 255},
        {"0o17", 15},
        {"0b101", 5},
        {"12abc", 12},
        {"1,2,3,", 1},
        {"abc", 0},
        {"\"42\"", 42},
        {"2147483647", 2147483647u},
        {"99999999999", 2147483647u},
        {"-99999999999", 0x80000000u},
    };
    for (const Case &c : cases) {
        Put(std::string("[Photo]\nWidth=") + c.value + "\n");
        EXPECT_EQ(GetPrivateProfileIntA("Photo", "Width", 77, path_.c_str()), c.expected)
            << c.value;
    }
    Put("[Photo]\nWidth=\n");
    EXPECT_EQ(GetPrivateProfileIntA("Photo", "Width", 77, path_.c_str()), 77u); // empty
    EXPECT_EQ(GetPrivateProfileIntA("Photo", "Height", -3, path_.c_str()), static_cast<UINT>(-3));
}

TEST_F(Profile, ListsSectionsAndKeys)
{
    Put("x=0\n[A]\nk=1\nj=2\nK=3\n[B]\n[A]\nz=1\n");
    char buffer[64];
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "d", buffer, sizeof buffer, path_.c_str()),
              6u);
    EXPECT_EQ(std::string(buffer, 8), std::string("A\0B\0A\0\0", 8));
    EXPECT_EQ(GetPrivateProfileStringA("a", nullptr, "d", buffer, sizeof buffer, path_.c_str()),
              4u);
    EXPECT_EQ(std::string(buffer, 5), std::string("k\0j\0\0", 5));
    // Too small: the last name is cut and two terminators end the buffer.
    std::fill(std::begin(buffer), std::end(buffer), '#');
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, "d", buffer, 5, path_.c_str()), 3u);
    EXPECT_EQ(std::string(buffer, 6), std::string("A\0B\0\0#", 6));
    EXPECT_EQ(GetPrivateProfileStringA("Missing", nullptr, "d", buffer, 5, path_.c_str()), 0u);
    EXPECT_EQ(buffer[0], '\0');
}

// ---- Writing ----------------------------------------------------------------------

struct Write {
    const char *section;
    const char *key;
    const char *value;
};

struct WriteCase {
    const char *name;
    const char *before; // null: no file
    std::vector<Write> writes;
    std::string after;
};

std::vector<WriteCase> WriteCases()
{
    return {
        {"creates the file and the section", nullptr, {{"Photo", "Width", "8"}},
         "[Photo]\nWidth=8\n"},
        {"replaces in place and keeps the rest",
         "; model\n[Photo]\nWidth = 1 ; old\nHeight=2\n\n[Other]\nx=1\n",
         {{"photo", "WIDTH", "8"}},
         "; model\n[Photo]\nWidth=8\nHeight=2\n\n[Other]\nx=1\n"},
        {"adds a key after its section's last entry",
         "[A]\nx=1\n\n; about B\n[B]\ny=2\n",
         {{"A", "z", "3"}, {"a", "w", "4"}},
         "[A]\nx=1\nz=3\nw=4\n\n; about B\n[B]\ny=2\n"},
        {"adds a key to an empty section", "[A]\n[B]\nb=1\n", {{"A", "a", "1"}},
         "[A]\na=1\n[B]\nb=1\n"},
        {"adds a section after a file without final line end", "[A]\nx=1",
         {{"B", "y", "2"}}, "[A]\nx=1\n[B]\ny=2\n"},
        {"adds a key at the end of such a file", "[A]\nx=1", {{"A", "y", "2"}},
         "[A]\nx=1\ny=2\n"},
        {"a replaced last line keeps having no line end", "[A]\nx=1", {{"A", "x", "2"}},
         "[A]\nx=2"},
        {"CRLF stays CRLF", "[A]\r\nx=1\r\n", {{"A", "y", "2"}, {"A", "x", "5"}, {"B", "z", "3"}},
         "[A]\r\nx=5\r\ny=2\r\n[B]\r\nz=3\r\n"},
        {"the first of equal keys is replaced", "[A]\nk=1\nk=2\n", {{"A", "K", "9"}},
         "[A]\nk=9\nk=2\n"},
        {"keys before any section stay apart", "k=0\n[A]\n", {{"A", "k", "1"}}, "k=0\n[A]\nk=1\n"},
        {"values with '=' and blanks", nullptr, {{"A", "k", "a=b "}}, "[A]\nk=a=b \n"},
        {"a null value removes the key", "[A]\nx=1\ny=2\n", {{"A", "x", nullptr}}, "[A]\ny=2\n"},
        {"a null key removes the section", "[A]\nx=1\n; about B\n[B]\ny=2\n",
         {{"B", nullptr, nullptr}}, "[A]\nx=1\n; about B\n"},
        {"removing what is not there", "[A]\nx=1\n", {{"A", "q", nullptr}, {"Q", nullptr, nullptr}},
         "[A]\nx=1\n"},
        {"byte order mark kept", "\xEF\xBB\xBF[A]\nx=1\n", {{"A", "x", "2"}},
         "\xEF\xBB\xBF[A]\nx=2\n"},
        {"garbage lines kept", "\x01\x02\n[[x\n==\n[A]\n", {{"A", "k", "v"}},
         "\x01\x02\n[[x\n==\n[A]\nk=v\n"},
    };
}

TEST_F(Profile, WritesOneCallAtATime)
{
    for (const WriteCase &c : WriteCases()) {
        SCOPED_TRACE(c.name);
        fs::remove(path_);
        if (c.before != nullptr) {
            Put(c.before);
        }
        for (const Write &w : c.writes) {
            ASSERT_EQ(WritePrivateProfileStringA(w.section, w.key, w.value, path_.c_str()), TRUE);
        }
        EXPECT_EQ(Contents(), c.after);
        EXPECT_EQ(FolderEntries(), std::vector<std::string>{"model.q3d"});
    }
}

TEST_F(Profile, WritesManyChangesWithOneSave)
{
    for (const WriteCase &c : WriteCases()) {
        SCOPED_TRACE(c.name);
        fs::remove(path_);
        if (c.before != nullptr) {
            Put(c.before);
        }
        ProfileFile file;
        ASSERT_TRUE(file.Load(path_));
        for (const Write &w : c.writes) {
            if (w.key == nullptr) {
                file.RemoveSection(w.section);
            } else if (w.value == nullptr) {
                file.Remove(w.section, w.key);
            } else {
                ASSERT_TRUE(file.Set(w.section, w.key, w.value));
            }
        }
        ASSERT_TRUE(file.Save());
        EXPECT_FALSE(file.Modified());
        EXPECT_EQ(Contents(), c.after);
    }
}

TEST_F(Profile, WrittenValuesReadBackThroughTheSameFile)
{
    // As a model writer does: thousands of numbered rows, then reads them back.
    ProfileFile writer;
    ASSERT_TRUE(writer.Load(path_));
    ASSERT_TRUE(writer.Set("Photo", "Width", "3"));
    char key[16];
    for (int row = 0; row < 10002; ++row) {
        std::snprintf(key, sizeof key, "Data%04d", row);
        ASSERT_TRUE(writer.Set("Photo", key, std::to_string(row) + ",1,2,"));
    }
    EXPECT_EQ(writer.Find("photo", "data10001"), "10001,1,2,");
    ASSERT_TRUE(writer.Save());

    ProfileFile reader;
    ASSERT_TRUE(reader.Load(path_));
    EXPECT_EQ(reader.GetInt("Photo", "Width", 0), 3u);
    for (int row = 0; row < 10002; ++row) {
        std::snprintf(key, sizeof key, "Data%04d", row);
        ASSERT_EQ(reader.Find("Photo", key), std::to_string(row) + ",1,2,") << key;
    }
    EXPECT_EQ(reader.KeyNames("Photo").size(), 10003u);
    char buffer[32];
    EXPECT_EQ(GetPrivateProfileStringA("PHOTO", "DATA10000", "", buffer, sizeof buffer,
                                       path_.c_str()),
              10u);
    EXPECT_STREQ(buffer, "10000,1,2,");
}

TEST_F(Profile, RefusesWhatCannotBeOneLine)
{
    Put("[A]\nx=1\n");
    const Write refused[] = {
        {"A", "k", "two\nlines"}, {"A", "k", "cr\r"},  {"A", "k=j", "1"}, {"A", "", "1"},
        {"A", "  ", "1"},         {"A]", "k", "1"},    {"A\n", "k", "1"}, {"A", "li\nne", "1"},
        {"A", ";k", "1"},         {"A", "[k]", "1"},
    };
    for (const Write &w : refused) {
        EXPECT_EQ(WritePrivateProfileStringA(w.section, w.key, w.value, path_.c_str()), FALSE)
            << w.section << "/" << w.key << "/" << w.value;
    }
    EXPECT_EQ(WritePrivateProfileStringA(nullptr, "k", "1", path_.c_str()), FALSE);
    EXPECT_EQ(WritePrivateProfileStringA("A", "k", "1", nullptr), FALSE);
    EXPECT_EQ(Contents(), "[A]\nx=1\n");
}

TEST_F(Profile, UnchangedValueIsNotAChange)
{
    Put("[A]\nx=1\n");
    ProfileFile file;
    ASSERT_TRUE(file.Load(path_));
    ASSERT_TRUE(file.Set("A", "x", "1"));
    EXPECT_FALSE(file.Modified());
    ASSERT_TRUE(file.Set("A", "x", "2"));
    EXPECT_TRUE(file.Modified());
}

TEST_F(Profile, KeepsPermissionsAndSymbolicLinks)
{
    Put("[A]\nx=1\n");
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    const std::string link = (dir_ / "link.q3d").string();
    fs::create_symlink("model.q3d", link);
    ASSERT_EQ(WritePrivateProfileStringA("A", "x", "2", link.c_str()), TRUE);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(Contents(), "[A]\nx=2\n");
    EXPECT_EQ(fs::status(path_).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// ---- Failed writes ----------------------------------------------------------------

TEST_F(Profile, ReadOnlyFolderFailsAndKeepsTheOldFile)
{
    Put("[A]\nx=1\n");
    if (!LockFolder()) {
        GTEST_SKIP() << "cannot make the folder read-only for this user here";
    }
    EXPECT_EQ(WritePrivateProfileStringA("A", "x", "2", path_.c_str()), FALSE);
    ProfileFile file;
    ASSERT_TRUE(file.Load(path_));
    ASSERT_TRUE(file.Set("B", "y", "3"));
    EXPECT_FALSE(file.Save());
    EXPECT_TRUE(file.Modified());
    UnlockFolder();
    EXPECT_EQ(Contents(), "[A]\nx=1\n");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"model.q3d"});
}

TEST_F(Profile, WriteCutShortFailsAndKeepsTheOldFile)
{
    // A file size limit makes the write of the new file fail half way, as a full
    // disk would, for any user.
    Put("[A]\nx=1\n");
    ProfileFile file;
    ASSERT_TRUE(file.Load(path_));
    ASSERT_TRUE(file.Set("A", "long", std::string(200000, 'v')));
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 65536;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = file.Save();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(Contents(), "[A]\nx=1\n");
    EXPECT_EQ(FolderEntries(), std::vector<std::string>{"model.q3d"});
    // Once the disk has room again, the same changes go through.
    EXPECT_TRUE(file.Save());
    EXPECT_EQ(file.Find("A", "long")->size(), 200000u);
    EXPECT_EQ(Contents().size(), 8u + 5 + 200000 + 1);
}

TEST_F(Profile, UnreadableOrUnreachableFileIsNotReplaced)
{
    // A folder where the file should be: it cannot be read, so it is not overwritten.
    fs::create_directory(path_);
    EXPECT_EQ(WritePrivateProfileStringA("A", "x", "1", path_.c_str()), FALSE);
    EXPECT_TRUE(fs::is_directory(path_));
    ProfileFile file;
    EXPECT_FALSE(file.Load(path_));
    EXPECT_TRUE(file.Set("A", "x", "1"));
    EXPECT_FALSE(file.Save());
    // A folder that does not exist.
    const std::string nowhere = (dir_ / "no" / "such.q3d").string();
    EXPECT_EQ(WritePrivateProfileStringA("A", "x", "1", nowhere.c_str()), FALSE);
}

} // namespace
