// qrv-render's StandaloneEngine road end to end: the program sets the engine up
// with the shipped shaders, builds the mesh from picture files or reads a model,
// and writes PNG frames, which are read back and looked at here.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

#include "fixtures.h"
#include "qrv.h"
#include "render_program.h"

namespace qrv::testing {
namespace {

constexpr uint32_t kBlue = 0x0000FFu;

bool Near(uint32_t a, uint32_t b, int tolerance = 3) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(d) > tolerance) return false;
    }
    return true;
}

struct Outcome {
    int status = -1;
    std::string err;
};

class RenderRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        depth = dir.Write("depth.bmp", BmpFile(GreyDib(4, 4, [](int, int) { return 255u; })));
        colour = dir.Write("colour.bmp", Bmp24File(2, 2, [](int, int) { return 0xC86432u; }));
    }
    Outcome Run(const std::string &arguments) {
        const std::string errFile = dir.Path("stderr.txt");
        const std::string command = std::string(QRV_RENDER_PROGRAM) + " --standalone " + arguments +
                                    " >" + dir.Path("stdout.txt") + " 2>" + errFile;
        Outcome run;
        run.status = RunCommand(command);
        run.err = ReadFile(errFile);
        return run;
    }
    TempDir dir;
    std::string depth, colour;
};

TEST_F(RenderRoadTest, BadCommandLinesAndInputs) {
    const std::string notBmp = dir.Write("notbmp.bmp", {'P', 'K', 3, 4});
    const struct {
        std::string arguments;
        const char *message;
    } cases[] = {
        {"", "no depth image or --model given"},
        {depth + " --model m.q3d", "exclude each other"},
        {"--model m.q3d --colour " + colour, "--colour goes with a depth image"},
        {depth + " --size 0x10", "bad frame size"},
        {depth + " --turn-at 2000", "bad turning time"},
        {depth + " --turn-at 5 --turntable 3", "does not go with --turntable"},
        {depth + " --frobnicate", "unknown option"},
        {dir.Path("none.bmp"), "cannot read depth image"},
        {notBmp, "is not a BMP file"},
        {depth + " --vertex-shader " + dir.Path("none.vsh"), "cannot read vertex shader"},
        {depth + " --texture " + dir.Path("none.jpg"), "cannot read texture picture"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome run = Run(c.arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(Run("--help").status, 0);
}

TEST_F(RenderRoadTest, MeshFromDepthAndColourImages) {
    const std::string out = dir.Path("mesh.png");
    ASSERT_EQ(Run(depth + " --colour " + colour + " --size 64x48 -o " + out).status, 0);
    const PngImage image = ReadPng(out);
    ASSERT_EQ(image.width, 64);
    ASSERT_EQ(image.height, 48);
    EXPECT_EQ(image.at(0, 0), kBlue);
    EXPECT_TRUE(Near(image.at(32, 24), 0xC86432u)) << std::hex << image.at(32, 24);

    // Without a colour image the mesh is white; with a texture through
    // "texture.ps" (beside the program) it shows the picture's top-left pixel.
    const std::string photo = dir.Write("photo.bmp", Bmp24File(2, 2, [](int c, int r) {
        return c == 0 && r == 0 ? 0x30A050u : 0x000000u;
    }));
    ASSERT_EQ(Run(depth + " --size 64x48 -o " + out).status, 0);
    EXPECT_EQ(ReadPng(out).at(32, 24), 0xFFFFFFu);
    ASSERT_EQ(Run(depth + " --texture " + photo + " --size 64x48 -o " + out).status, 0);
    EXPECT_TRUE(Near(ReadPng(out).at(32, 24), 0x30A050u)) << std::hex << ReadPng(out).at(32, 24);

    // A shader that does not assemble: set-up fails and says so.
    const std::string bad = dir.Write("bad.vsh", {'v', 's', '_', '1', '_', '1', '\n', 'x', '\n'});
    const Outcome failed = Run(depth + " --vertex-shader " + bad + " -o " + out);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("WinMain InitDXGraphics"), std::string::npos) << failed.err;
}

TEST_F(RenderRoadTest, ModelFileAndWireFrame) {
    // A model written by the library itself from the same depth image.
    Block block(GreyDib(4, 4, [](int, int) { return 255u; }));
    ASSERT_EQ(_QRV3DWriteQ3DFile(1, block.get(), nullptr, dir.Path("model.bmp").c_str()), S_OK);
    const std::string out = dir.Path("model.png");
    ASSERT_EQ(Run("--model " + dir.Path("model.q3d") + " --size 256x192 -o " + out).status, 0);
    const PngImage solid = ReadPng(out);
    EXPECT_NE(solid.at(128, 96), kBlue);
    ASSERT_EQ(Run("--model " + dir.Path("model.q3d") + " --wire --size 256x192 -o " + out).status, 0);
    const PngImage wire = ReadPng(out);
    size_t solidCount = 0, wireCount = 0;
    for (size_t i = 0; i < solid.rgb.size(); ++i) {
        solidCount += solid.rgb[i] != kBlue;
        wireCount += wire.rgb[i] != kBlue;
    }
    EXPECT_GT(wireCount, 0u);
    EXPECT_LT(wireCount, solidCount);
}

TEST_F(RenderRoadTest, TurntableWritesATurnOfFrames) {
    const std::string out = dir.Path("turn.png");
    ASSERT_EQ(Run(depth + " --colour " + colour + " --turntable 4 --size 48x48 -o " + out).status, 0);
    std::vector<PngImage> frames;
    for (int i = 1; i <= 4; ++i) frames.push_back(ReadPng(dir.Path("turn-" + std::to_string(i) + ".png")));
    for (const PngImage &f : frames) ASSERT_EQ(f.width, 48);
    // The first frame faces the eye; a quarter of a turn later the mesh stands
    // edge-on with its back toward the eye, which is not drawn.
    EXPECT_NE(frames[0].rgb, frames[1].rgb);
    EXPECT_TRUE(Near(frames[0].at(24, 24), 0xC86432u)) << std::hex << frames[0].at(24, 24);
}

} // namespace
} // namespace qrv::testing
