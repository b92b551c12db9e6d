#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "platform/win32/win32.h"

TEST(Win32Time, TickCountAdvancesWithSleep) {
    const DWORD before = GetTickCount();
    Sleep(30);
    const DWORD elapsed = GetTickCount() - before; // unsigned difference survives a wrap
    EXPECT_GE(elapsed, 29u);
    EXPECT_LT(elapsed, 2000u);
}

TEST(Win32Paths, ModuleFileNameIsThisExecutableWithWin32Cutting) {
    char path[4096];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::filesystem::path(path), std::filesystem::canonical("/proc/self/exe"));

    char small[5];
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
    EXPECT_EQ(std::string(small), std::string(path, 4)); // cut, terminated
}

TEST(Win32Paths, CurrentDirectoryFollowsBufferRules) {
    const std::string cwd = std::filesystem::current_path().string();
    char buffer[4096];
    EXPECT_EQ(GetCurrentDirectoryA(sizeof buffer, buffer), cwd.size());
    EXPECT_EQ(std::string(buffer), cwd);
    // Too small: the size needed, terminator included, and nothing promised in the buffer.
    EXPECT_EQ(GetCurrentDirectoryA(2, buffer), cwd.size() + 1);
    EXPECT_EQ(GetCurrentDirectoryA(0, nullptr), cwd.size() + 1);
}

struct WideCase {
    const char *name;
    std::string text;
    int bytes; // -1: terminated
    std::u16string expected;
};

TEST(Win32CodePages, Utf8ToWideTable) {
    const WideCase cases[] = {
        {"ascii", "abc", 3, u"abc"},
        {"terminator counted", "abc", -1, std::u16string(u"abc\0", 4)},
        {"japanese", "\xE9\x96\x8B\xE3\x81\x8F", 6, u"\u958B\u304F"},
        {"surrogate pair", "\xF0\x9F\x98\x80", 4, u"\U0001F600"},
        {"bad byte replaced", "a\xFF" "b", 3, u"a\uFFFDb"},
        {"truncated sequence", "\xE9\x96", 2, u"\uFFFD\uFFFD"},
        {"overlong refused", "\xC0\xAF", 2, u"\uFFFD\uFFFD"},
    };
    for (const WideCase &c : cases) {
        SCOPED_TRACE(c.name);
        const int needed = MultiByteToWideChar(CP_ACP, 0, c.text.c_str(), c.bytes, nullptr, 0);
        ASSERT_EQ(needed, static_cast<int>(c.expected.size()));
        std::u16string out(static_cast<size_t>(needed), u'?');
        ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, c.text.c_str(), c.bytes, out.data(), needed),
                  needed);
        EXPECT_EQ(out, c.expected);
    }
}

TEST(Win32CodePages, BufferAndArgumentErrorsGiveZero) {
    char16_t out[2];
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 3, out, 2), 0); // too small
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", 0, out, 2), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, nullptr, 3, out, 2), 0);
    EXPECT_EQ(MultiByteToWideChar(1252, 0, "abc", 3, out, 2), 0); // no other code pages
    EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0x8 /*MB_ERR_INVALID_CHARS*/, "\xFF", 1, out, 2), 0);
}

TEST(Win32Files, ReadsWholeAndShortAndRefusesMissing) {
    const std::string path = testing::TempDir() + "win32_read_test.bin";
    {
        std::ofstream f(path, std::ios::binary);
        f << "BM0123456789";
    }
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    char buffer[32] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, buffer, 2, &read, nullptr));
    EXPECT_EQ(read, 2u);
    EXPECT_EQ(std::string(buffer, 2), "BM");
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr)); // past the end
    EXPECT_EQ(read, 10u);
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_TRUE(CloseHandle(file));
    std::remove(path.c_str());

    EXPECT_EQ(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buffer, 1, &read, nullptr));
    EXPECT_EQ(read, 0u);
    EXPECT_FALSE(CloseHandle(nullptr));
}
