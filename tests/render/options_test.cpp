// qrv-render's command line.
#include <gtest/gtest.h>

#include "options.h"

namespace qrv::render {
namespace {

bool Parse(std::vector<const char *> args, Settings &s, std::string &error) {
    args.insert(args.begin(), "qrv-render");
    return ParseCommandLine(static_cast<int>(args.size()), args.data(), s, error);
}

TEST(Options, GoodCommandLines) {
    Settings s;
    std::string error;
    ASSERT_TRUE(Parse({"photo.jpg"}, s, error)) << error;
    EXPECT_EQ(s.photo, "photo.jpg");
    EXPECT_EQ(s.output, "relief.png");
    EXPECT_EQ(s.width, 512);
    EXPECT_EQ(s.popupPercent, 100);
    EXPECT_FALSE(s.tear);
    EXPECT_EQ(s.series, Series::None);

    ASSERT_TRUE(Parse({"-o", "out.png", "--size=640x480", "photo.jpg", "-e", "3,-2,0", "--tear",
                       "40", "-p", "62", "-w", "-d", "depth.bmp"},
                      s, error))
        << error;
    EXPECT_EQ(s.output, "out.png");
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.height, 480);
    EXPECT_EQ(s.eyeSteps[0], 3);
    EXPECT_EQ(s.eyeSteps[1], -2);
    EXPECT_EQ(s.eyeSteps[2], 0);
    EXPECT_TRUE(s.tear);
    EXPECT_EQ(s.tearLevel, 40);
    EXPECT_EQ(s.popupPercent, 62);
    EXPECT_TRUE(s.wire);
    EXPECT_EQ(s.depth, "depth.bmp");

    ASSERT_TRUE(Parse({"--turntable", "12", "photo.jpg"}, s, error)) << error;
    EXPECT_EQ(s.series, Series::Turntable);
    EXPECT_EQ(s.turntableFrames, 12);
    ASSERT_TRUE(Parse({"--popup-series", "--no-depth", "--", "-odd-name.jpg"}, s, error)) << error;
    EXPECT_EQ(s.series, Series::PopUp);
    EXPECT_TRUE(s.noDepth);
    EXPECT_EQ(s.photo, "-odd-name.jpg");
    ASSERT_TRUE(Parse({"-r", "1500", "photo.jpg"}, s, error)) << error;
    EXPECT_TRUE(s.turn);
    EXPECT_EQ(s.turnAtMs, 1500);
    ASSERT_TRUE(Parse({"--help"}, s, error));
    EXPECT_TRUE(s.help);
}

TEST(Options, BadCommandLinesNameTheProblem) {
    const struct {
        std::vector<const char *> args;
        const char *problem;
    } cases[] = {
        {{}, "no photo given"},
        {{"a.jpg", "b.jpg"}, "more than one photo"},
        {{"a.jpg", "--frobnicate"}, "unknown option '--frobnicate'"},
        {{"a.jpg", "-x"}, "unknown option '-x'"},
        {{"a.jpg", "--size", "640"}, "bad frame size '640'"},
        {{"a.jpg", "--size", "0x10"}, "bad frame size"},
        {{"a.jpg", "--size", "9000x10"}, "bad frame size"},
        {{"a.jpg", "--eye", "1,2"}, "bad eye steps '1,2'"},
        {{"a.jpg", "--eye", "1,2,3,"}, "bad eye steps"},
        {{"a.jpg", "--eye", "1,x,3"}, "bad eye steps"},
        {{"a.jpg", "--tear", "256"}, "bad tear level '256'"},
        {{"a.jpg", "--tear", "-1"}, "bad tear level"},
        {{"a.jpg", "--popup", "101"}, "bad pop-up percent '101'"},
        {{"a.jpg", "--popup", "5o"}, "bad pop-up percent"},
        {{"a.jpg", "--turn-at", "7000"}, "bad turning time"},
        {{"a.jpg", "--turntable", "1"}, "bad number of frames"},
        {{"a.jpg", "--output"}, "--output needs FILE"},
        {{"a.jpg", "--wire=yes"}, "--wire takes no value"},
        {{"a.jpg", "--depth", "d.bmp", "--no-depth"}, "exclude each other"},
        {{"a.jpg", "--turn-at", "5", "--popup-series"}, "does not go with a series"},
    };
    for (const auto &c : cases) {
        Settings s;
        std::string error;
        EXPECT_FALSE(Parse(c.args, s, error)) << c.problem;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    }
}

TEST(Options, HelpDocumentsEveryOption) {
    const std::string help = HelpText();
    for (const char *option :
         {"--output FILE", "--depth FILE", "--no-depth", "--size WxH", "--eye X,Y,Z",
          "--tear LEVEL", "--popup PERCENT", "--wire", "--turn-at MS", "--turntable N",
          "--popup-series", "--help", "Exit status"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    size_t start = 0;
    while (start < help.size()) {
        const size_t end = help.find('\n', start);
        EXPECT_LE((end == std::string::npos ? help.size() : end) - start, 80u);
        start = end == std::string::npos ? help.size() : end + 1;
    }
}

TEST(Options, FileNames) {
    EXPECT_EQ(CompanionDepthPath("/pics/cat.jpg"), "/pics/cat_.bmp");
    EXPECT_EQ(CompanionDepthPath("/pics/cat.JPG"), "/pics/cat_.bmp");
    EXPECT_EQ(CompanionDepthPath("/pics/cat.jpeg"), "/pics/cat._.bmp");
    EXPECT_EQ(CompanionDepthPath("/pics/cat_.bmp"), "/pics/cat__.bmp");
    EXPECT_EQ(CompanionDepthPath("a.jp"), "");
    EXPECT_EQ(FramePath("relief.png", 1, 1), "relief.png");
    EXPECT_EQ(FramePath("out/relief.png", 3, 6), "out/relief-3.png");
    EXPECT_EQ(FramePath("out.d/relief", 12, 12), "out.d/relief-12");
    EXPECT_EQ(FramePath(".hidden", 2, 6), ".hidden-2");
}

} // namespace
} // namespace qrv::render
