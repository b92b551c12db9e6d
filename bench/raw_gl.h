// The raw OpenGL side of the graphics benchmarks: an off-screen frame, shader
// programs, the relief's interleaved strip layout, and an indexed grid over three
// streams drawn through hand-written GLSL. Each baseline builds from these the
// same GL objects it would write out by hand, so every comparison keeps its work.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/glcorearb.h>

#include "platform/d3d9/egl_context.h"

namespace qrv::bench::rawgl {

inline GLuint Compile(GLenum stage, const char *source) {
    GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    return shader;
}

// Links the two stages into a program and makes it the current one.
// The strip baselines' fragment stage: the photo modulated by the vertex colour, as
// the layer's texture stage draws it.
inline constexpr const char *kPhotoFragmentShader =
    "#version 330 core\n"
    "in vec4 vColor;\n"
    "in vec2 vUv;\n"
    "uniform sampler2D photo;\n"
    "layout(location = 0) out vec4 result;\n"
    "void main() { result = texture(photo, vUv) * vColor; }\n";

inline GLuint UseProgram(const char *vertexSource, const char *fragmentSource) {
    const GLuint vs = Compile(GL_VERTEX_SHADER, vertexSource);
    const GLuint fs = Compile(GL_FRAGMENT_SHADER, fragmentSource);
    const GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glUseProgram(program);
    return program;
}

// A size x size RGBA8 colour target with the given depth storage, bound for drawing
// with the viewport over all of it.
struct Target {
    GLuint color = 0, depth = 0, framebuffer = 0;
};

inline Target BindTarget(int size, GLenum depthFormat, GLenum depthAttachment) {
    Target t;
    glCreateRenderbuffers(1, &t.color);
    glNamedRenderbufferStorage(t.color, GL_RGBA8, size, size);
    glCreateRenderbuffers(1, &t.depth);
    glNamedRenderbufferStorage(t.depth, depthFormat, size, size);
    glCreateFramebuffers(1, &t.framebuffer);
    glNamedFramebufferRenderbuffer(t.framebuffer, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, t.color);
    glNamedFramebufferRenderbuffer(t.framebuffer, depthAttachment, GL_RENDERBUFFER, t.depth);
    glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer);
    glViewport(0, 0, size, size);
    return t;
}

// Binds a vertex array over one buffer of relief strip vertices: position (3
// floats), diffuse colour (BGRA bytes) and texture coordinate (2 floats).
inline GLuint BindStripVertexArray(GLuint buffer, GLsizei stride) {
    GLuint vertexArray = 0;
    glCreateVertexArrays(1, &vertexArray);
    glBindVertexArray(vertexArray);
    glVertexArrayVertexBuffer(vertexArray, 0, buffer, 0, stride);
    glVertexArrayAttribFormat(vertexArray, 0, 3, GL_FLOAT, GL_FALSE, 0);
    glVertexArrayAttribFormat(vertexArray, 1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 12);
    glVertexArrayAttribFormat(vertexArray, 2, 2, GL_FLOAT, GL_FALSE, 16);
    for (GLuint a = 0; a < 3; ++a) {
        glVertexArrayAttribBinding(vertexArray, a, 0);
        glEnableVertexArrayAttrib(vertexArray, a);
    }
    return vertexArray;
}

// A width x height RGBA8 texture of BGRA texels, sampled nearest, bound to unit 0.
inline GLuint BindTexture(int width, int height, const std::vector<uint32_t> &texels) {
    GLuint texture = 0;
    glCreateTextures(GL_TEXTURE_2D, 1, &texture);
    glTextureStorage2D(texture, 1, GL_RGBA8, width, height);
    glTextureSubImage2D(texture, 0, 0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, texels.data());
    glTextureParameteri(texture, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTextureParameteri(texture, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTextureUnit(0, texture);
    return texture;
}

// An indexed triangle list over three streams (positions, BGRA colours, texture
// coordinates) with 16-bit indices, drawn into a size x size frame with a depth
// and stencil buffer by a program that transforms by four constant registers and
// writes the vertex colour; each frame is cleared to blue and read back as BGRA.
// The context is current when the constructor returns, so a caller can add state.
class StreamGrid {
public:
    StreamGrid(int frameSize, std::span<const float> positions, std::span<const uint32_t> colours,
               std::span<const float> uvs, std::span<const uint16_t> indices)
        : context_(d3d9::EglContext::Create(D3DDEVTYPE_HAL)), frameSize_(frameSize),
          indexCount_(static_cast<GLsizei>(indices.size())) {
        if (!context_) throw std::runtime_error("no GL");
        context_->MakeCurrent();
        target_ = BindTarget(frameSize, GL_DEPTH24_STENCIL8, GL_DEPTH_STENCIL_ATTACHMENT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);

        GLuint buffers[4];
        glCreateBuffers(4, buffers);
        glNamedBufferData(buffers[0], static_cast<GLsizeiptr>(positions.size_bytes()), positions.data(), GL_STATIC_DRAW);
        glNamedBufferData(buffers[1], static_cast<GLsizeiptr>(colours.size_bytes()), colours.data(), GL_STATIC_DRAW);
        glNamedBufferData(buffers[2], static_cast<GLsizeiptr>(uvs.size_bytes()), uvs.data(), GL_STATIC_DRAW);
        glNamedBufferData(buffers[3], static_cast<GLsizeiptr>(indices.size_bytes()), indices.data(), GL_STATIC_DRAW);
        glCreateVertexArrays(1, &vertexArray_);
        glBindVertexArray(vertexArray_);
        glVertexArrayVertexBuffer(vertexArray_, 0, buffers[0], 0, 12);
        glVertexArrayVertexBuffer(vertexArray_, 1, buffers[1], 0, 4);
        glVertexArrayVertexBuffer(vertexArray_, 2, buffers[2], 0, 8);
        glVertexArrayElementBuffer(vertexArray_, buffers[3]);
        glVertexArrayAttribFormat(vertexArray_, 0, 3, GL_FLOAT, GL_FALSE, 0);
        glVertexArrayAttribFormat(vertexArray_, 1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 0);
        glVertexArrayAttribFormat(vertexArray_, 2, 2, GL_FLOAT, GL_FALSE, 0);
        for (GLuint a = 0; a < 3; ++a) {
            glVertexArrayAttribBinding(vertexArray_, a, a);
            glEnableVertexArrayAttrib(vertexArray_, a);
        }
        program_ = UseProgram("#version 330 core\n"
                              "layout(location = 0) in vec4 position;\n"
                              "layout(location = 1) in vec4 color;\n"
                              "layout(location = 2) in vec4 uv;\n"
                              "uniform vec4 c[4];\n"
                              "out vec4 vColor;\n"
                              "out vec4 vUv;\n"
                              "void main() {\n"
                              "  gl_Position = vec4(dot(position, c[0]), dot(position, c[1]),\n"
                              "                     dot(position, c[2]), dot(position, c[3]));\n"
                              "  vColor = color; vUv = uv;\n"
                              "}\n",
                              "#version 330 core\n"
                              "in vec4 vColor;\n"
                              "layout(location = 0) out vec4 result;\n"
                              "void main() { result = vColor; }\n");
        constantsLocation_ = glGetUniformLocation(program_, "c");
        pixels_.resize(static_cast<size_t>(frameSize) * frameSize);
    }

    // One frame with the transposed transform in `constants` (16 floats).
    void Frame(const float *constants) {
        context_->MakeCurrent();
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        glUniform4fv(constantsLocation_, 4, constants);
        glDrawElements(GL_TRIANGLES, indexCount_, GL_UNSIGNED_SHORT, nullptr);
        glReadPixels(0, 0, frameSize_, frameSize_, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels_.data());
        benchmark::DoNotOptimize(pixels_.data());
    }

    const std::vector<uint32_t> &pixels() const { return pixels_; }

private:
    std::unique_ptr<d3d9::EglContext> context_;
    int frameSize_;
    GLsizei indexCount_;
    Target target_;
    GLuint vertexArray_ = 0, program_ = 0;
    GLint constantsLocation_ = -1;
    std::vector<uint32_t> pixels_;
};

} // namespace qrv::bench::rawgl
