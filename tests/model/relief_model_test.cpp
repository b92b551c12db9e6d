// q3d files on the ReliefView road, on the system's OpenGL device: the strips a
// model file gives, the photo beside it, the depth values written at the view's
// pop-up percentage, and round trips against BuildStrips.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "model_fixture.h"

namespace qrv::testing {
namespace {

void ExpectVertex(const StripVertex &got, const StripVertex &want) {
    EXPECT_FLOAT_EQ(got.x, want.x);
    EXPECT_FLOAT_EQ(got.y, want.y);
    EXPECT_FLOAT_EQ(got.z, want.z);
    EXPECT_EQ(got.diffuse, want.diffuse);
    EXPECT_FLOAT_EQ(got.u, want.u);
    EXPECT_FLOAT_EQ(got.v, want.v);
}

TEST_F(ReliefModelTest, ReadsOneStripFromAThreeByTwoGrid) {
    const std::string model = WriteText(dir, "a.q3d",
                                        "[Photo]\nWidth=3\nHeight=2\n"
                                        "Data0000=255,128,0,\nData0001=0,0,0,\n");
    dir.Write("a.bmp", Bmp24File(4, 4, [](int, int) { return 0x808080u; }));
    EXPECT_EQ(_QRV3DReadQ3DFile(handle, dir.Path("a.q3d").c_str()), S_OK);
    EXPECT_STREQ(view->modelPath, model.c_str());
    EXPECT_EQ(view->vertsPerStrip, 6);
    EXPECT_EQ(view->stripCount, 1);
    EXPECT_NE(view->photoTexture, nullptr); // from a.bmp

    const std::vector<StripVertex> s = Strips();
    ASSERT_EQ(s.size(), 6u);
    const float third = 1.0f / 3;
    ExpectVertex(s[0], {-1, 1, 0.9921875f, 0xFFFFFFFFu, 0, 0});
    ExpectVertex(s[1], {-1, 0, -1, 0xFFFFFFFFu, 0, 0.5f});
    ExpectVertex(s[2], {0, 1, 0, 0xFFFFFFFFu, third, 0});
    ExpectVertex(s[3], {0, 0, -1, 0xFFFFFFFFu, third, 0.5f});
    ExpectVertex(s[4], {1, 1, -1, 0xFFFFFFFFu, 2 * third, 0});
    ExpectVertex(s[5], {1, 0, -1, 0xFFFFFFFFu, 2 * third, 0.5f});

    // Any name works: the model at "...q3d", the photo at "...bmp".
    EXPECT_EQ(_QRV3DReadQ3DFile(handle, dir.Path("a.xyz").c_str()), S_OK);
    EXPECT_EQ(view->stripCount, 1);
    EXPECT_NE(view->photoTexture, nullptr);
}

TEST_F(ReliefModelTest, WithoutAModelOnlyThePhotoIsLoaded) {
    dir.Write("p.bmp", Bmp24File(2, 2, [](int, int) { return 0xFF0000u; }));
    const Block depth(GreyDib(4, 4, [](int c, int r) { return static_cast<unsigned>(16 * (c + r)); }));
    ASSERT_EQ(_QRV3DGet3DImage(handle, depth.get(), nullptr, dir.Path("p.bmp").c_str()), S_OK);
    ASSERT_NE(view->stripBuffer, nullptr);

    struct Case {
        const char *name;
        std::string text; // empty: no file
    } cases[] = {
        {"no file", ""},
        {"one row", "[Photo]\nWidth=4\nHeight=1\nData0000=1,2,3,4,\n"},
        {"no width", "[Photo]\nHeight=4\n"},
        {"negative height", "[Photo]\nWidth=4\nHeight=-4\n"},
        {"too large for one buffer", "[Photo]\nWidth=2000000000\nHeight=3\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir.Path("p.q3d"));
        if (!c.text.empty()) WriteText(dir, "p.q3d", c.text);
        EXPECT_EQ(_QRV3DReadQ3DFile(handle, dir.Path("p.q3d").c_str()), S_OK);
        EXPECT_EQ(view->stripBuffer, nullptr);
        EXPECT_EQ(view->vertsPerStrip, 0);
        EXPECT_EQ(view->stripCount, 0);
        EXPECT_NE(view->photoTexture, nullptr);
    }
}

TEST_F(ReliefModelTest, WritesDepthValuesAtThePopUpPercentage) {
    // Greys 200, 100 over 0, 255; the top picture row becomes Data0000.
    const unsigned greys[2][2] = {{200, 100}, {0, 255}};
    const Block depth(GreyDib(2, 2, [&](int c, int r) { return greys[r][c]; }));
    _QRV3DEffect(handle, 2, 60); // popupPercent 40
    EXPECT_EQ(_QRV3DWriteQ3DFile(handle, depth.get(), nullptr, dir.Path("d.jpg").c_str()), S_OK);
    EXPECT_STREQ(view->modelPath, dir.Path("d.q3d").c_str());
    EXPECT_EQ(ReadText(dir.Path("d.q3d")), "[Photo]\nWidth=2\nHeight=2\n"
                                           "Data0000=175,215,\nData0001=255,153,\n");

    // At full depth; an existing model of more rows keeps its other entries.
    _QRV3DEffect(handle, 2, 0);
    const Block small(GreyDib(1, 1, [](int, int) { return 55u; }));
    _QRV3DWriteQ3DFile(handle, small.get(), nullptr, dir.Path("d.q3d").c_str());
    EXPECT_EQ(ReadText(dir.Path("d.q3d")), "[Photo]\nWidth=1\nHeight=1\n"
                                           "Data0000=200,\nData0001=255,153,\n");

    // Without a depth image only the model path changes.
    EXPECT_EQ(_QRV3DWriteQ3DFile(handle, nullptr, nullptr, dir.Path("e.bmp").c_str()), S_OK);
    EXPECT_STREQ(view->modelPath, dir.Path("e.q3d").c_str());
    EXPECT_FALSE(std::filesystem::exists(dir.Path("e.q3d")));
}

TEST_F(ReliefModelTest, RoundTripMatchesTheStripsBuiltFromTheImage) {
    // An odd height puts the rows where BuildStrips puts them; an even one puts
    // them one step (1 / scale) higher.
    for (const int height : {5, 6}) {
        SCOPED_TRACE(height);
        const int width = 7;
        const Block depth(GreyDib(width, height, [](int c, int r) {
            return static_cast<unsigned>((37 * c + 91 * r) % 256);
        }));
        _QRV3DEffect(handle, 2, 30);
        _QRV3DGet3DImage(handle, depth.get(), nullptr, nullptr); // no photo: strips only
        const std::vector<StripVertex> built = Strips();
        ASSERT_EQ(built.size(), static_cast<size_t>(2 * width * (height - 1)));

        _QRV3DWriteQ3DFile(handle, depth.get(), nullptr, dir.Path("r.q3d").c_str());
        _QRV3DReadQ3DFile(handle, dir.Path("r.q3d").c_str());
        EXPECT_EQ(view->vertsPerStrip, 2 * width);
        EXPECT_EQ(view->stripCount, height - 1);
        const std::vector<StripVertex> read = Strips();
        ASSERT_EQ(read.size(), built.size());
        const float shift = height % 2 == 0 ? 1.0f / 3 : 0.0f; // scale = max(3, height / 2) = 3
        for (size_t i = 0; i < read.size(); ++i) {
            SCOPED_TRACE(i);
            ExpectVertex(read[i], {built[i].x, built[i].y + shift, built[i].z, built[i].diffuse,
                                   built[i].u, built[i].v});
        }
        std::filesystem::remove(dir.Path("r.q3d"));
    }
}

TEST_F(ReliefModelTest, LongRowsAreReadWhole) {
    // 300 values of 255 make a row of 1,200 bytes (the original buffer held 1,023).
    const Block depth(GreyDib(300, 2, [](int, int) { return 0u; }));
    _QRV3DWriteQ3DFile(handle, depth.get(), nullptr, dir.Path("w.q3d").c_str());
    _QRV3DReadQ3DFile(handle, dir.Path("w.q3d").c_str());
    const std::vector<StripVertex> s = Strips();
    ASSERT_EQ(s.size(), 600u);
    for (const StripVertex &v : s) EXPECT_FLOAT_EQ(v.z, 0.9921875f);
}

TEST_F(ReliefModelTest, ModelPathEndsInQ3dAndFitsItsField) {
    struct Case {
        const char *name;
        std::string path;
        bool set;
    } cases[] = {
        {"three characters", "abc", true},
        {"too short", "ab", false},
        {"259 characters", std::string(256, 'p') + "bmp", true},
        {"260 characters", std::string(257, 'p') + "bmp", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::strcpy(view->modelPath, "old");
        EXPECT_EQ(view->SetModelPath(c.path.c_str()), c.set);
        EXPECT_EQ(std::string(view->modelPath),
                  c.set ? c.path.substr(0, c.path.size() - 3) + "q3d" : "");
    }
    EXPECT_FALSE(view->SetModelPath(nullptr));
    EXPECT_EQ(_QRV3DReadQ3DFile(handle, nullptr), S_OK);
    EXPECT_EQ(_QRV3DWriteQ3DFile(handle, nullptr, nullptr, nullptr), S_OK);
}

} // namespace
} // namespace qrv::testing
