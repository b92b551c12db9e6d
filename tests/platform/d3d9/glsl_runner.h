// Runs the GLSL that the shader translator makes on the system's OpenGL (EGL
// surfaceless; Mesa llvmpipe here) without the Direct3D-shaped device: compiles
// and links a vertex and a fragment program, and draws a quad into a float target
// whose pixels hold exactly what the fragment program wrote.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace qrv::testing {

using Vec4 = std::array<float, 4>;

struct QuadSetup {
    int width = 2;
    int height = 2;
    std::vector<Vec4> vertexConstants; // qrv_c[0...]
    std::vector<Vec4> pixelConstants;  // qrv_pc[0...]
    // Vertex attributes by location, one vec4 a corner, corners in the order
    // (-1, -1), (1, -1), (-1, 1), (1, 1) of clip space.
    std::map<unsigned, std::array<Vec4, 4>> attributes;
    // Textures by sampler (qrv_s<N>): width x height 0xAARRGGBB texels, first row
    // at texture coordinate v = 0; point sampled, wrapping.
    struct Texture {
        int width = 0;
        int height = 0;
        std::vector<uint32_t> texels;
    };
    std::map<unsigned, Texture> textures;
    // Pass qrv_t0..qrv_t7 flat, so that values reach the fragment program unchanged.
    bool flatTexcoords = false;
};

class GlslRunner {
public:
    // The process's runner, or null when no OpenGL 3.3 core context can be had.
    static GlslRunner *Get();

    // Compiles and links; false with the driver's log.
    bool Link(const std::string &vertex, const std::string &fragment, std::string *log);

    // Draws the quad; pixels receive width x height RGBA values, bottom row first.
    bool Draw(const std::string &vertex, const std::string &fragment, const QuadSetup &setup,
              std::vector<Vec4> *pixels, std::string *log);

private:
    GlslRunner() = default;
    unsigned Program(const std::string &vertex, const std::string &fragment, std::string *log);
};

} // namespace qrv::testing
