// qrv-render end to end: the program draws through libqrv.so on the system's
// OpenGL (llvmpipe on a machine without a GPU) and writes PNG files, which are
// read back and looked at here.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "fixtures.h"
#include "render_program.h"

namespace qrv::testing {
namespace {

constexpr uint32_t kBackground = 0x0000FF; // the frame's blue, as RGB

struct Outcome {
    int status = -1;
    std::string err;
};

class RenderProgramTest : public ::testing::Test {
protected:
    Outcome Render(const std::string &arguments) {
        const std::string errFile = dir.Path("stderr.txt");
        const std::string command =
            std::string(QRV_RENDER_PROGRAM) + " " + arguments + " >/dev/null 2>" + errFile;
        Outcome run;
        run.status = RunCommand(command);
        run.err = ReadFile(errFile);
        return run;
    }
    std::string Photo(const std::string &name, int w, int h,
                      const std::function<uint32_t(int, int)> &rgb) {
        return dir.Write(name, Bmp24File(w, h, rgb));
    }
    // A depth image file: an 8-bit BMP with a grey ramp.
    std::string Depth(const std::string &name, int w, int h,
                      std::function<unsigned(int, int)> grey) {
        return dir.Write(name, BmpFile(GreyDib(w, h, std::move(grey)), 14 + 40 + 1024));
    }
    TempDir dir;
};

TEST_F(RenderProgramTest, FlatPhotoFillsTheFrameTheRightWayUp) {
    // Four quadrants; drawn flat at the plane nearest the eye, the photo is
    // larger than the frame, so every pixel shows one of them.
    const uint32_t tl = 0xFF0000, tr = 0x00FF00, bl = 0xFFFF00, br = 0xFFFFFF;
    const std::string photo = Photo("quad.bmp", 64, 64, [&](int c, int r) {
        return r < 32 ? (c < 32 ? tl : tr) : (c < 32 ? bl : br);
    });
    const Outcome run = Render(photo + " -o " + dir.Path("flat.png") + " -s 200x160");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("drawing the photo flat"), std::string::npos);
    const PngImage frame = ReadPng(dir.Path("flat.png"));
    ASSERT_EQ(frame.width, 200);
    ASSERT_EQ(frame.height, 160);
    EXPECT_EQ(frame.Count(tl) + frame.Count(tr) + frame.Count(bl) + frame.Count(br),
              frame.rgb.size());
    EXPECT_EQ(frame.at(50, 40), tl);
    EXPECT_EQ(frame.at(150, 40), tr);
    EXPECT_EQ(frame.at(50, 120), bl);
    EXPECT_EQ(frame.at(150, 120), br);
}

TEST_F(RenderProgramTest, DepthStepTearsBelowItsLevelOnly) {
    // The left half far (grey 0, depth 255), the right half near (grey 200,
    // depth 55): a step of 200 levels, seen from the left, where the wall between
    // the halves faces the eye.
    const std::string photo = Photo("step.bmp", 48, 48, [](int, int) { return 0x808080u; });
    Depth("step_.bmp", 48, 48, [](int c, int) { return c < 24 ? 0u : 200u; });
    auto blueAt = [&](const std::string &tear) {
        const std::string out = dir.Path("step" + tear + ".png");
        const Outcome run = Render(photo + " -o " + out + " -s 160x160 -e -10,0,0" +
                                   (tear.empty() ? "" : " -t " + tear));
        EXPECT_EQ(run.status, 0) << run.err;
        return ReadPng(out);
    };
    const PngImage whole = blueAt("");
    ASSERT_EQ(whole.width, 160);
    for (const char *level : {"200", "230", "255"}) {
        const PngImage untorn = blueAt(level);
        EXPECT_EQ(untorn.rgb, whole.rgb) << "level " << level << " must not tear a step of 200";
    }
    const PngImage torn = blueAt("199");
    // The wall between the halves is gone: the background shows through it.
    EXPECT_GT(torn.Count(kBackground), whole.Count(kBackground) + 160 * 4);
    EXPECT_EQ(torn.Count(0x808080u) + torn.Count(kBackground), torn.rgb.size());
}

TEST_F(RenderProgramTest, WireFrameAndPopUpSeries) {
    const std::string photo = Photo("p.bmp", 32, 32, [](int c, int r) {
        return static_cast<uint32_t>(c * 8) << 16 | static_cast<uint32_t>(r * 8);
    });
    Depth("p_.bmp", 32, 32, [](int c, int r) { return static_cast<unsigned>((c + r) * 4); });

    ASSERT_EQ(Render(photo + " -o " + dir.Path("solid.png") + " -s 128x128").status, 0);
    ASSERT_EQ(Render(photo + " -w -o " + dir.Path("wire.png") + " -s 128x128").status, 0);
    const PngImage solid = ReadPng(dir.Path("solid.png"));
    const PngImage wire = ReadPng(dir.Path("wire.png"));
    // The wire frame shows the background between its lines.
    EXPECT_GT(wire.Count(kBackground), solid.Count(kBackground) + 500);

    const Outcome run = Render(photo + " --popup-series -o " + dir.Path("pop.png") + " -s 96x96");
    ASSERT_EQ(run.status, 0) << run.err;
    std::vector<PngImage> frames;
    for (int i = 1; i <= 6; ++i) {
        frames.push_back(ReadPng(dir.Path("pop-" + std::to_string(i) + ".png")));
        ASSERT_EQ(frames.back().width, 96) << i;
    }
    // Rising out of the page changes the picture step by step; the last step is
    // the full relief as a single frame shows it.
    for (int i = 1; i < 6; ++i) EXPECT_NE(frames[i].rgb, frames[i - 1].rgb) << i;
    ASSERT_EQ(Render(photo + " -o " + dir.Path("full.png") + " -s 96x96").status, 0);
    EXPECT_EQ(frames[5].rgb, ReadPng(dir.Path("full.png")).rgb);
}

TEST_F(RenderProgramTest, BadInputGivesOneLineAndStatusTwo) {
    const std::string photo = Photo("p.bmp", 8, 8, [](int, int) { return 0u; });
    const std::string notBmp = dir.Write("notbmp.bmp", {'G', 'I', 'F', '8', '9', 'a'});
    std::vector<uint8_t> cutBytes(100, 0);
    cutBytes[0] = 'B';
    cutBytes[1] = 'M';
    Put32(cutBytes, 2, 5000);
    const std::string cut = dir.Write("cut.bmp", cutBytes);
    const std::string garbagePhoto = dir.Write("garbage.jpg", {1, 2, 3, 4, 5});
    const struct {
        std::string arguments;
        const char *problem;
    } cases[] = {
        {dir.Path("missing.jpg"), "cannot read photo"},
        {photo + " -d " + dir.Path("missing.bmp"), "cannot read depth image"},
        {photo + " -d " + notBmp, "is not a BMP file"},
        {photo + " -d " + cut, "is cut short"},
        {garbagePhoto + " --no-depth", "cannot load photo"},
        {photo + " --tear 300", "bad tear level"},
        {photo + " --bogus", "unknown option"},
        {"", "no photo given"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome run = Render(c.arguments + " -o " + dir.Path("x.png"));
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.problem), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
    // An output that cannot be written is a failure of the program, status 1.
    const Outcome run = Render(photo + " --no-depth -o " + dir.Path("no/such/folder.png"));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot write"), std::string::npos) << run.err;

    const Outcome help = Render("--help");
    EXPECT_EQ(help.status, 0);
}

} // namespace
} // namespace qrv::testing
