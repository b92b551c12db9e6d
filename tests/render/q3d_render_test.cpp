// qrv-render with q3d model files: the options, and models written from depth
// images and drawn again on both roads, through the program and libqrv.so on the
// system's OpenGL.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fixtures.h"
#include "options.h"
#include "q3d_options.h"
#include "render_program.h"

namespace qrv::testing {
namespace {

using render::ParseCommandLine;
using render::Settings;

size_t CountNot(const std::vector<uint32_t> &pixels, uint32_t background) {
    size_t n = 0;
    for (uint32_t p : pixels) n += p != background;
    return n;
}

TEST(Q3dOptions, ModelTakesItsPhotoFromItsName) {
    struct Case {
        std::vector<const char *> args;
        bool ok;
        std::string photo;
    } cases[] = {
        {{"--model", "m/garden.q3d"}, true, "m/garden.bmp"},
        {{"-m", "x.abc", "--popup", "40"}, true, "x.bmp"},
        {{"--model", "ab"}, false, ""},
        {{"photo.jpg", "--model", "m.q3d"}, false, ""},
        {{"--model", "m.q3d", "--depth", "d.bmp"}, false, ""},
        {{"--model", "m.q3d", "--no-depth"}, false, ""},
        {{"--model", "m.q3d", "--write-model", "n.q3d"}, false, ""},
        {{"photo.jpg", "--write-model", "n.bmp"}, true, "photo.jpg"},
        {{"photo.jpg", "--write-model", "n"}, false, ""},
    };
    for (const Case &c : cases) {
        std::vector<const char *> argv{"qrv-render"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        std::string trace;
        for (const char *a : c.args) trace += std::string(a) + " ";
        SCOPED_TRACE(trace);
        Settings settings;
        std::string error;
        EXPECT_EQ(ParseCommandLine(static_cast<int>(argv.size()), argv.data(), settings, error),
                  c.ok)
            << error;
        if (c.ok) {
            EXPECT_EQ(settings.photo, c.photo);
        }
    }
    EXPECT_EQ(render::ModelFileFor("out.bmp"), "out.q3d");
    EXPECT_EQ(render::ModelFileFor("out"), "q3d");
    EXPECT_EQ(render::ModelFileFor("ou"), "");
}

class Q3dRenderTest : public ::testing::Test {
protected:
    // Runs qrv-render in the test's folder; returns its exit status.
    int Render(const std::string &arguments) {
        const std::string command = "cd '" + dir.Path(".") + "' && " + QRV_RENDER_PROGRAM + " " +
                                    arguments + " >stdout.txt 2>stderr.txt";
        const int status = RunCommand(command);
        err = ReadFile(dir.Path("stderr.txt"));
        out = ReadFile(dir.Path("stdout.txt"));
        return status;
    }
    // An 8-bit BMP file with a grey ramp.
    void Depth(const std::string &name, int w, int h, std::function<unsigned(int, int)> grey) {
        dir.Write(name, BmpFile(GreyDib(w, h, std::move(grey)), 14 + 40 + 1024));
    }

    TempDir dir;
    std::string out, err;
};

TEST_F(Q3dRenderTest, ViewRoadDrawsTheModelItWrote) {
    // An odd height: rows read from a model sit where the depth image puts them.
    const auto photo = [](int x, int y) { return static_cast<uint32_t>((x * 8) << 16 | (y * 8) << 8 | 0x40); };
    dir.Write("scene.bmp", Bmp24File(31, 21, photo));
    Depth("scene_.bmp", 31, 21, [](int x, int y) { return (x * 7 + y * 11) % 256u; });
    // A stale model of the same name: replaced whole, not merged.
    dir.Write("scene.q3d", std::vector<uint8_t>{'[', 'X', ']', '\n'});
    ASSERT_EQ(Render("scene.bmp --popup 70 --write-model scene.q3d --size 96x96 --output a.png"), 0)
        << err;
    EXPECT_EQ(out, "wrote scene.q3d\n");
    const std::string model = ReadFile(dir.Path("scene.q3d"));
    EXPECT_EQ(model.rfind("[Photo]\nWidth=31\nHeight=21\nData0000=", 0), 0u) << model.substr(0, 64);
    EXPECT_EQ(model.find("[X]"), std::string::npos);

    ASSERT_EQ(Render("--model scene.q3d --size 96x96 --output b.png"), 0) << err;
    const std::vector<uint32_t> a = ReadPng(dir.Path("a.png")).rgb, b = ReadPng(dir.Path("b.png")).rgb;
    ASSERT_EQ(a.size(), 96u * 96);
    ASSERT_EQ(b.size(), a.size());
    EXPECT_GT(CountNot(a, 0x0000FF), a.size() / 4);
    size_t differing = 0;
    for (size_t i = 0; i < a.size(); ++i) differing += a[i] != b[i];
    EXPECT_LE(differing, a.size() / 200) << "the model draws as its depth image does";

    EXPECT_EQ(Render("--model missing.q3d"), 2);
    EXPECT_NE(err.find("missing."), std::string::npos) << err;
}

TEST_F(Q3dRenderTest, StandaloneRoadDrawsTheModelItWrote) {
    Depth("hill.bmp", 8, 6, [](int x, int y) { return x > 1 && x < 6 && y > 0 && y < 5 ? 200u : 0u; });
    dir.Write("paint.bmp", Bmp24File(2, 1, [](int x, int) { return x ? 0x20C020u : 0xC02020u; }));
    ASSERT_EQ(Render("--standalone hill.bmp --colour paint.bmp --write-model hill.xyz --size 96x96 "
                     "--output a.png"),
              0)
        << err;
    EXPECT_EQ(out, "wrote hill.q3d\n");
    const std::string model = ReadFile(dir.Path("hill.q3d"));
    EXPECT_EQ(model.rfind("[Photo]\nWidth=32\nHeight=24\n", 0), 0u);
    EXPECT_NE(model.find("[VertexColor]\nCount=768\nData0000=192,32,32,"), std::string::npos);

    ASSERT_EQ(Render("--standalone --model hill.q3d --size 96x96 --output b.png"), 0) << err;
    const std::vector<uint32_t> a = ReadPng(dir.Path("a.png")).rgb, b = ReadPng(dir.Path("b.png")).rgb;
    ASSERT_EQ(b.size(), a.size());
    // The same relief in the same colours; a model's rows sit one grid step higher.
    const size_t drawnA = CountNot(a, 0x0000FF), drawnB = CountNot(b, 0x0000FF);
    EXPECT_GT(drawnA, a.size() / 50);
    EXPECT_NEAR(static_cast<double>(drawnB), static_cast<double>(drawnA), drawnA * 0.15);
    for (const uint32_t colour : {0xC02020u, 0x20C020u}) {
        EXPECT_GT(std::count(a.begin(), a.end(), colour), 10) << std::hex << colour;
        EXPECT_GT(std::count(b.begin(), b.end(), colour), 10) << std::hex << colour;
    }
}

} // namespace
} // namespace qrv::testing
