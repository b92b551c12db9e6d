// q3d files on the StandaloneEngine road, on the system's OpenGL device: the
// worked examples of both forms, round trips against the mesh built from the same
// images, large models, and the reader's meaning over messy files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "model_fixture.h"

namespace qrv::testing {
namespace {

// An 8-bit depth image whose pixel (column, picture row from the top) has the
// colour-table entry 0xRRGGBB given; each pixel gets an entry of its own.
std::vector<uint8_t> DepthDib(int width, int height, const std::vector<uint32_t> &rgbTopFirst) {
    DibSpec spec;
    spec.width = width;
    spec.height = height;
    spec.table.assign(256, 0);
    for (size_t i = 0; i < rgbTopFirst.size(); ++i) spec.table[i] = rgbTopFirst[i];
    spec.pixel = [width](int c, int r) { return static_cast<unsigned>(r * width + c); };
    return DibBytes(spec);
}

// An 8-bit depth image whose every pixel has the colour-table entry 0xRRGGBB.
std::vector<uint8_t> UniformDepthDib(int width, int height, uint32_t rgb) {
    DibSpec spec;
    spec.width = width;
    spec.height = height;
    spec.table.assign(256, 0);
    spec.table[0] = rgb;
    return DibBytes(spec);
}

// A 24-bit colour image of one colour.
std::vector<uint8_t> PlainColourDib(int width, int height, uint32_t rgb) {
    return Rgb24Dib(width, height, [rgb](int, int) { return rgb; });
}

constexpr char kWorkedExample[] = "[Photo]\n"
                                  "Width=8\n"
                                  "Height=4\n"
                                  "Data0000=50,43,37,31,25,18,12,6,\n"
                                  "Data0001=100,87,75,62,50,37,25,12,\n"
                                  "Data0002=150,131,112,93,75,56,37,18,\n"
                                  "Data0003=200,175,150,125,100,75,50,25,\n";

void ExpectVertex(const std::vector<float> &p, size_t n, float x, float y, float z) {
    ASSERT_GE(p.size(), 3 * n + 3);
    EXPECT_FLOAT_EQ(p[3 * n], x) << "vertex " << n;
    EXPECT_FLOAT_EQ(p[3 * n + 1], y) << "vertex " << n;
    EXPECT_FLOAT_EQ(p[3 * n + 2], z) << "vertex " << n;
}

TEST_F(StandaloneModelTest, WritesTheDepthGridAndReadsItBack) {
    const Block depth(DepthDib(2, 1, {0xC80000, 0x640000})); // reds 200 and 100
    EXPECT_EQ(_QRV3DWriteQ3DFile(1, depth.get(), nullptr, dir.Path("a.bmp").c_str()), S_OK);
    EXPECT_EQ(ReadText(dir.Path("a.q3d")), kWorkedExample);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("a.bmp")));

    engine().eye = D3DXVECTOR3{1, 2, 3};
    EXPECT_EQ(_QRV3DReadQ3DFile(1, dir.Path("a.q3d").c_str()), S_OK);
    EXPECT_EQ(engine().vertexCount, 32u);
    EXPECT_EQ(engine().triangleCount, 42u); // no corner lies on the picture plane
    EXPECT_FLOAT_EQ(engine().eye.y, 3.0f);  // the eye is back at its defaults
    EXPECT_FLOAT_EQ(engine().eyeDistance, 5.0f);

    const std::vector<float> p = Positions();
    ASSERT_EQ(p.size(), 32u * 3);
    ExpectVertex(p, 0, -1.0f, 0.5f, -50.0f / 255);
    ExpectVertex(p, 24, -1.0f, -0.25f, -200.0f / 255);
    // No colours in the file and a largest value of 200: reds stretched to 240.
    const std::vector<uint32_t> c = Colours();
    ASSERT_EQ(c.size(), 32u);
    EXPECT_EQ(c[24], 0xFFF0FF12u);
    EXPECT_EQ(c[0], 0xFF3C9644u);
    // A grid carries no texture coordinates, as the mesh built from images.
    EXPECT_EQ(engine().texCoordBuffer, nullptr);
    EXPECT_EQ(Indices().size(), 42u * 3);
}

TEST_F(StandaloneModelTest, ColourImageGivesTheVertexColours) {
    const Block depth(DepthDib(2, 1, {0xC80000, 0x640000}));
    const Block colour(PlainColourDib(1, 1, 0xFF8000)); // blue 0, green 128, red 255
    _QRV3DWriteQ3DFile(1, depth.get(), colour.get(), dir.Path("a.bmp").c_str());
    std::string rows;
    for (int i = 0; i < 8; ++i) rows += "255,128,0,";
    EXPECT_EQ(ReadText(dir.Path("a.q3d")), std::string(kWorkedExample) +
                                               "[VertexColor]\nCount=32\nData0000=" + rows +
                                               "\nData0001=" + rows + "\nData0002=" + rows +
                                               "\nData0003=" + rows + "\n");

    EXPECT_EQ(_QRV3DReadQ3DFile(1, dir.Path("a.q3d").c_str()), S_OK);
    for (uint32_t colourOfVertex : Colours()) EXPECT_EQ(colourOfVertex, 0xFFFF8000u);

    // A colour image alone: its own size, one row per image row, top row first,
    // and no [Photo] section.
    DibSpec spec;
    spec.width = 3;
    spec.height = 2;
    spec.table = {0x010203, 0x0A0B0C};
    spec.table.resize(256);
    spec.pixel = [](int c, int r) { return static_cast<unsigned>(r == 0 && c == 2); };
    const Block paletted(DibBytes(spec));
    _QRV3DWriteQ3DFile(1, nullptr, paletted.get(), dir.Path("x.bmp").c_str());
    EXPECT_EQ(ReadText(dir.Path("x.q3d")), "[VertexColor]\n"
                                           "Count=6\n"
                                           "Data0000=1,2,3,1,2,3,10,11,12,\n"
                                           "Data0001=1,2,3,1,2,3,1,2,3,\n");
}

TEST_F(StandaloneModelTest, ReadsTheFileAsTheImageRoadBuildsTheMesh) {
    // A 5 x 3 relief with a flat border: some triangles are dropped.
    std::vector<uint32_t> reds;
    for (int i = 0; i < 15; ++i) reds.push_back(static_cast<uint32_t>((i % 5 == 0 ? 0 : 40 * (i % 7))) << 16);
    const Block depth(DepthDib(5, 3, reds));
    const Block colour(PlainColourDib(7, 2, 0x3366CC));
    _QRV3DWriteQ3DFile(1, depth.get(), colour.get(), dir.Path("m.q3d").c_str());

    ASSERT_EQ(_QRV3DGet3DImage(1, depth.get(), colour.get(), nullptr), S_OK);
    const std::vector<float> built = Positions();
    const std::vector<uint32_t> builtColours = Colours();
    const std::vector<uint32_t> builtIndices = Indices();
    const uint32_t builtTriangles = engine().triangleCount;

    ASSERT_EQ(_QRV3DReadQ3DFile(1, dir.Path("m.q3d").c_str()), S_OK);
    EXPECT_EQ(engine().vertexCount, 20u * 12);
    EXPECT_EQ(engine().triangleCount, builtTriangles);
    EXPECT_LT(builtTriangles, 19u * 11 * 2);
    EXPECT_EQ(Indices(), builtIndices);
    EXPECT_EQ(Colours(), builtColours);
    const std::vector<float> read = Positions();
    ASSERT_EQ(read.size(), built.size());
    // The same x and z; the file puts every row one grid step (1 / scale) higher.
    const float step = 1.0f / 10;
    for (size_t n = 0; n < read.size() / 3; ++n) {
        EXPECT_FLOAT_EQ(read[3 * n], built[3 * n]);
        EXPECT_NEAR(read[3 * n + 1], built[3 * n + 1] + step, 1e-6f);
        EXPECT_FLOAT_EQ(read[3 * n + 2], built[3 * n + 2]);
    }
}

TEST_F(StandaloneModelTest, MeshForm) {
    const std::string file = WriteText(dir, "mesh.q3d",
                                       "[Vertex]\nCount=3\n"
                                       "Data0000=0,0.5,-0.25\n"
                                       "Data0001=1,-1,0\n"
                                       "Data0002=-1,-1,-0.5\n"
                                       "[Index]\nCount=1\nData0000=0,1,2\n");
    EXPECT_EQ(_QRV3DReadQ3DFile(1, file.c_str()), S_OK);
    EXPECT_EQ(engine().vertexCount, 3u);
    EXPECT_EQ(engine().triangleCount, 1u);
    EXPECT_EQ(Positions(), (std::vector<float>{0, 0.5f, -0.25f, 1, -1, 0, -1, -1, -0.5f}));
    EXPECT_EQ(Colours(), (std::vector<uint32_t>{0xFF000000u, 0xFF000000u, 0xFF000000u}));
    EXPECT_EQ(TexCoords(), (std::vector<float>{0.5f, 0.25f, 1, 1, 0, 1}));
    EXPECT_EQ(Indices(), (std::vector<uint32_t>{0, 1, 2}));
    D3DINDEXBUFFER_DESC desc{};
    engine().indexBuffer->GetDesc(&desc);
    EXPECT_EQ(desc.Format, D3DFMT_INDEX16);
}

TEST_F(StandaloneModelTest, MeshFormRefusesWhatIsNotThere) {
    // Vertex 1 is missing and vertex 2 half readable; colours wrap to their low 8
    // bits; triangles naming vertices the mesh has not got become 0, 0, 0.
    const std::string file = WriteText(dir, "mesh.q3d",
                                       "[Vertex]\nCount=4\n"
                                       "Data0000=0.5,0.25,-1\n"
                                       "Data0002=2,junk\n"
                                       "Data0003= -1e1 , 1,1\n"
                                       "[VertexColor]\nData0000=256,1,-1\nData0003=9\n"
                                       "[Index]\nCount=5\n"
                                       "Data0000=0,1,2\n"
                                       "Data0001=3,2,4\n"
                                       "Data0002=-1,0,1\n"
                                       "Data0003=1,x,3\n");
    EXPECT_EQ(_QRV3DReadQ3DFile(1, file.c_str()), S_OK);
    EXPECT_EQ(Positions(),
              (std::vector<float>{0.5f, 0.25f, -1, 0, 0, 0, 2, 0, 0, -10, 0, 0}));
    EXPECT_EQ(Colours(),
              (std::vector<uint32_t>{0xFF0001FFu, 0xFF000000u, 0xFF000000u, 0xFF090000u}));
    EXPECT_EQ(Indices(), (std::vector<uint32_t>{0, 1, 2, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(engine().triangleCount, 5u);
}

TEST_F(StandaloneModelTest, FilesWithoutAUsableModelLeaveNoBuffers) {
    const Block depth(DepthDib(2, 1, {0xC80000, 0x640000}));
    struct Case {
        const char *name;
        std::string text;
        uint32_t vertices, triangles;
    } cases[] = {
        {"no file", "", 0, 0},
        {"Width 5 with Height 0 is mesh form without vertices", "[Photo]\nWidth=5\nHeight=0\n", 0,
         0},
        {"one row has no triangles", "[Photo]\nWidth=5\nHeight=1\nData0000=1,2,3,4,5,\n", 5, 0},
        {"two vertices", "[Vertex]\nCount=2\n[Index]\nCount=4\n", 2, 4},
        {"negative sizes", "[Photo]\nWidth=-4\nHeight=-4\n", 0, 0},
        {"negative triangle count", "[Vertex]\nCount=3\n[Index]\nCount=-1\n", 3, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // Each read starts from a model that has buffers.
        ASSERT_EQ(_QRV3DGet3DImage(1, depth.get(), nullptr, nullptr), S_OK);
        ASSERT_NE(engine().positionBuffer, nullptr);
        const std::string path = dir.Path("none.q3d");
        std::filesystem::remove(path);
        if (!c.text.empty()) WriteText(dir, "none.q3d", c.text);
        EXPECT_EQ(_QRV3DReadQ3DFile(1, path.c_str()), S_OK);
        EXPECT_EQ(engine().positionBuffer, nullptr);
        EXPECT_EQ(engine().colorBuffer, nullptr);
        EXPECT_EQ(engine().texCoordBuffer, nullptr);
        EXPECT_EQ(engine().indexBuffer, nullptr);
        EXPECT_EQ(engine().vertexCount, c.vertices);
        EXPECT_EQ(engine().triangleCount, c.triangles);
    }
}

TEST_F(StandaloneModelTest, MessyFilesReadAsTheirCleanForm) {
    const std::string clean = "[Photo]\nWidth=3\nHeight=2\nData0000=1,2,3,\nData0001=4,5,6,\n";
    ASSERT_EQ(_QRV3DReadQ3DFile(1, WriteText(dir, "clean.q3d", clean).c_str()), S_OK);
    const std::vector<float> expected = Positions();
    const std::vector<uint32_t> expectedIndices = Indices();
    ASSERT_EQ(expected.size(), 18u);

    struct Case {
        const char *name;
        std::string text;
    } cases[] = {
        {"CRLF and no final line end",
         "[Photo]\r\nWidth=3\r\nHeight=2\r\nData0000=1,2,3,\r\nData0001=4,5,6,"},
        {"names in other cases", "[PHOTO]\nwidth=3\nHEIGHT=2\ndata0000=1,2,3,\nDATA0001=4,5,6,\n"},
        {"comments, blank lines, other sections and keys outside any section",
         "Width=9\n; a model\n\n[Other]\nData0000=9,9,9,\n[Photo]\n\n;Width=7\nWidth=3\n"
         "Height=2\n\nData0000=1,2,3,\n; between\nData0001=4,5,6,\n[Index]\nCount=3\n"},
        {"duplicate keys and sections: the first wins",
         "[Photo]\nWidth=3\nHeight=2\nData0000=1,2,3,\nWidth=9\nData0000=7,7,7,\n"
         "[photo]\nData0001=9,9,9,\n[Photo]\nData0001=8,8,8,\n"
         "[Photo]\n"},
        {"blanks and quotes around values",
         "[Photo]\n Width = 3 \nHeight=\"2\"\n\tData0000\t=  1, 2,3, \nData0001='4,5,6,'\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = WriteText(dir, "messy.q3d", c.text);
        ASSERT_EQ(_QRV3DReadQ3DFile(1, path.c_str()), S_OK);
        if (std::string(c.name).rfind("duplicate", 0) == 0) {
            // Data0001 exists only in the sections that are never searched.
            std::vector<float> firstRowOnly = expected;
            for (size_t n = 3; n < 6; ++n) firstRowOnly[3 * n + 2] = 0.0f;
            EXPECT_EQ(Positions(), firstRowOnly);
        } else {
            EXPECT_EQ(Positions(), expected);
            EXPECT_EQ(Indices(), expectedIndices);
        }
    }
}

TEST_F(StandaloneModelTest, RowsReadValueByValue) {
    // Each point ends at its comma; without one it reads 0 and the rest of the
    // row is left alone.
    struct Case {
        const char *row;
        std::vector<float> z; // as -value / 255
    } cases[] = {
        {"1,2,3", {1, 2, 0}},
        {"1,2,3,", {1, 2, 3}},
        {" +7,x9,-2,", {7, 0, -2}},
        {"1 2,,3,4,", {1, 0, 3}},
        {"99999999999,", {2147483647.0f, 0, 0}},
        {"", {0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.row);
        const std::string text = std::string("[Photo]\nWidth=3\nHeight=2\nData0000=") + c.row +
                                 "\nData0001=9,9,9,\n";
        ASSERT_EQ(_QRV3DReadQ3DFile(1, WriteText(dir, "row.q3d", text).c_str()), S_OK);
        const std::vector<float> p = Positions();
        ASSERT_EQ(p.size(), 18u);
        for (size_t k = 0; k < 3; ++k)
            EXPECT_FLOAT_EQ(p[3 * k + 2], static_cast<float>(-static_cast<double>(c.z[k]) / 255.0));
    }
}

TEST_F(StandaloneModelTest, VertexColourRowsNeedThreeCommasAPoint) {
    const std::string text = "[Photo]\nWidth=3\nHeight=2\nData0000=1,1,1,\nData0001=1,1,1,\n"
                             "[VertexColor]\nCount=6\n"
                             "Data0000=1,2,3,256,-1,7,4,5\n"
                             "Data0001=10, 20,30,1 ,2,3,\n";
    ASSERT_EQ(_QRV3DReadQ3DFile(1, WriteText(dir, "colour.q3d", text).c_str()), S_OK);
    EXPECT_EQ(Colours(), (std::vector<uint32_t>{0xFF010203u, 0xFF00FF07u, 0xFF000000u,
                                                0xFF0A141Eu, 0xFF010000u, 0xFF000000u}));
}

TEST_F(StandaloneModelTest, LongRowsAndManyRowsSurviveARoundTrip) {
    // 1,100 pixels of red 255 make grid rows of 4,400 points, 13,000 to 17,600
    // bytes each (the original line buffer held 4,095 of them).
    {
        const Block wide(UniformDepthDib(1100, 1, 0xFF0000));
        _QRV3DWriteQ3DFile(1, wide.get(), nullptr, dir.Path("wide.q3d").c_str());
        ASSERT_EQ(_QRV3DReadQ3DFile(1, dir.Path("wide.q3d").c_str()), S_OK);
        const std::vector<float> p = Positions();
        ASSERT_EQ(p.size(), 4400u * 4 * 3);
        // The top row next to the right edge, blended toward 0 on both sides:
        // ((4 - 2) x 255 / 4) / 4.
        EXPECT_FLOAT_EQ(p[3 * 4398 + 2], -31.0f / 255);
        D3DINDEXBUFFER_DESC desc{};
        engine().indexBuffer->GetDesc(&desc);
        EXPECT_EQ(desc.Format, D3DFMT_INDEX16); // 17,600 vertices
    }
    // 2,501 pixel rows make 10,004 grid rows, keyed up to Data10003, and a grid
    // of more than 65,536 points, indexed with 32 bits.
    {
        const Block tall(UniformDepthDib(2, 2501, 0x800000));
        _QRV3DWriteQ3DFile(1, tall.get(), nullptr, dir.Path("tall.q3d").c_str());
        const std::string text = ReadText(dir.Path("tall.q3d"));
        EXPECT_NE(text.find("\nData9999=128,128,128,128,128,96,64,32,\n"
                            "Data10000=32,32,32,32,32,24,16,8,\n"),
                  std::string::npos);
        ASSERT_EQ(_QRV3DReadQ3DFile(1, dir.Path("tall.q3d").c_str()), S_OK);
        EXPECT_EQ(engine().vertexCount, 8u * 10004);
        D3DINDEXBUFFER_DESC desc{};
        engine().indexBuffer->GetDesc(&desc);
        EXPECT_EQ(desc.Format, D3DFMT_INDEX32);
        const std::vector<float> p = Positions();
        const std::vector<uint32_t> indices = Indices();
        ASSERT_EQ(p.size(), 3u * 8 * 10004);
        EXPECT_FLOAT_EQ(p[3 * (8 * 10000) + 2], -32.0f / 255); // row Data10000
        // The last cell's triangles reach the last vertex.
        EXPECT_EQ(*std::max_element(indices.begin(), indices.end()), 8u * 10004 - 1);
    }
}

TEST_F(StandaloneModelTest, WriterKeepsWhatItDoesNotReplace) {
    WriteText(dir, "k.q3d", "; my model\n[Notes]\nby=hand\n[Photo]\nWidth=1\nHeight=9\n"
                            "Data0005=old,\nData0004=old,\n");
    const Block depth(DepthDib(1, 1, {0x040000}));
    _QRV3DWriteQ3DFile(1, depth.get(), nullptr, dir.Path("k.bmp").c_str());
    EXPECT_EQ(ReadText(dir.Path("k.q3d")), "; my model\n[Notes]\nby=hand\n[Photo]\nWidth=4\n"
                                           "Height=4\nData0005=old,\nData0004=old,\n"
                                           "Data0000=1,0,0,0,\nData0001=2,1,1,0,\n"
                                           "Data0002=3,2,1,0,\nData0003=4,3,2,1,\n");
    // Nothing to write with: the file stays as it was, and a path too short to
    // end in "q3d" names no file.
    const std::string before = ReadText(dir.Path("k.q3d"));
    EXPECT_EQ(_QRV3DWriteQ3DFile(1, nullptr, nullptr, dir.Path("k.bmp").c_str()), S_OK);
    EXPECT_EQ(ReadText(dir.Path("k.q3d")), before);
    EXPECT_EQ(_QRV3DWriteQ3DFile(1, depth.get(), nullptr, "ab"), S_OK);
    EXPECT_EQ(_QRV3DWriteQ3DFile(1, depth.get(), nullptr, nullptr), S_OK);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("q3d")));
}

TEST_F(StandaloneModelTest, ShippedDefaultModelIsReadAtSetUpAndDrawn) {
    // A fresh set-up in a folder holding the shipped model.
    _QRV3DTerm(1);
    standalone::engine = standalone::StandaloneEngine{};
    std::filesystem::copy_file(QRV_SHADER_DIR "/default.q3d", dir.Path("default.q3d"));
    ASSERT_EQ(_QRV3DInit(&window.window, QRV_SHADER_DIR "/relief.vsh", QRV_SHADER_DIR "/relief.psh"),
              1);
    ASSERT_NE(engine().positionBuffer, nullptr);
    EXPECT_GT(engine().vertexCount, 1000u);
    EXPECT_GT(engine().triangleCount, 1000u);
    ASSERT_TRUE(_QRV3DRender(1));

    // The relief stands in the middle of the frame, in many colours.
    size_t covered = 0;
    std::vector<uint32_t> seen;
    for (uint32_t pixel : window.frame) {
        if ((pixel & 0xFFFFFFu) == 0x0000FFu) continue; // the blue background
        ++covered;
        if (std::find(seen.begin(), seen.end(), pixel & 0xE0E0E0u) == seen.end())
            seen.push_back(pixel & 0xE0E0E0u);
    }
    EXPECT_GT(covered, window.frame.size() / 50);
    EXPECT_GT(seen.size(), 12u);
    const uint32_t centre = window.frame[window.frame.size() / 2 + window.width / 2];
    EXPECT_NE(centre & 0xFFFFFFu, 0x0000FFu);
}

} // namespace
} // namespace qrv::testing
