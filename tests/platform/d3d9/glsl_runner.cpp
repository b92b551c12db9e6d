// OpenGL through EGL for the translator's tests; see glsl_runner.h.
#include "glsl_runner.h"

#define GL_GLEXT_PROTOTYPES 1
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/glcorearb.h>

#include <memory>

namespace qrv::testing {
namespace {

bool MakeContext() {
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) return false;
    EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, nullptr, nullptr)) return false;
    if (!eglBindAPI(EGL_OPENGL_API)) return false;
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 3,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK, EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                 EGL_NONE};
    EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) return false;
    return eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE;
}

GLuint Compile(GLenum stage, const std::string &source, std::string *log) {
    GLuint shader = glCreateShader(stage);
    const char *text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char buffer[4096] = {};
        glGetShaderInfoLog(shader, sizeof buffer, nullptr, buffer);
        *log += std::string(stage == GL_VERTEX_SHADER ? "vertex: " : "fragment: ") + buffer;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

void Replace(std::string &text, const std::string &from, const std::string &to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

} // namespace

GlslRunner *GlslRunner::Get() {
    static std::unique_ptr<GlslRunner> runner = [] {
        std::unique_ptr<GlslRunner> made;
        if (MakeContext()) made.reset(new GlslRunner());
        return made;
    }();
    return runner.get();
}

unsigned GlslRunner::Program(const std::string &vertex, const std::string &fragment, std::string *log) {
    GLuint vs = Compile(GL_VERTEX_SHADER, vertex, log);
    GLuint fs = Compile(GL_FRAGMENT_SHADER, fragment, log);
    if (!vs || !fs) {
        if (vs) glDeleteShader(vs);
        if (fs) glDeleteShader(fs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint ok = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &ok);
    if (!ok) {
        char buffer[4096] = {};
        glGetProgramInfoLog(program, sizeof buffer, nullptr, buffer);
        *log += std::string("link: ") + buffer;
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

bool GlslRunner::Link(const std::string &vertex, const std::string &fragment, std::string *log) {
    log->clear();
    GLuint program = Program(vertex, fragment, log);
    if (program) glDeleteProgram(program);
    return program != 0;
}

bool GlslRunner::Draw(const std::string &vertexText, const std::string &fragmentText, const QuadSetup &setup,
                      std::vector<Vec4> *pixels, std::string *log) {
    log->clear();
    std::string vertex = vertexText, fragment = fragmentText;
    if (setup.flatTexcoords) {
        for (int i = 0; i < 8; ++i) {
            std::string n = std::to_string(i);
            Replace(vertex, "\nout vec4 qrv_t" + n + ";", "\nflat out vec4 qrv_t" + n + ";");
            Replace(fragment, "\nin vec4 qrv_t" + n + ";", "\nflat in vec4 qrv_t" + n + ";");
        }
    }
    GLuint program = Program(vertex, fragment, log);
    if (!program) return false;
    glUseProgram(program);

    GLuint framebuffer = 0, colour = 0, array = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glGenRenderbuffers(1, &colour);
    glBindRenderbuffer(GL_RENDERBUFFER, colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA32F, setup.width, setup.height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, colour);
    glViewport(0, 0, setup.width, setup.height);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glClearColor(-7.0f, -7.0f, -7.0f, -7.0f);
    glClear(GL_COLOR_BUFFER_BIT);

    GLint location = glGetUniformLocation(program, "qrv_c");
    if (location >= 0 && !setup.vertexConstants.empty()) {
        glUniform4fv(location, static_cast<GLsizei>(setup.vertexConstants.size()), setup.vertexConstants[0].data());
    }
    location = glGetUniformLocation(program, "qrv_pc");
    if (location >= 0 && !setup.pixelConstants.empty()) {
        glUniform4fv(location, static_cast<GLsizei>(setup.pixelConstants.size()), setup.pixelConstants[0].data());
    }
    location = glGetUniformLocation(program, "qrv_pixelOffset");
    if (location >= 0) glUniform2f(location, 0.0f, 0.0f);

    std::vector<GLuint> textures;
    for (const auto &[unit, texture] : setup.textures) {
        GLuint name = 0;
        glGenTextures(1, &name);
        textures.push_back(name);
        glActiveTexture(GL_TEXTURE0 + unit);
        glBindTexture(GL_TEXTURE_2D, name);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, texture.width, texture.height, 0, GL_BGRA,
                     GL_UNSIGNED_INT_8_8_8_8_REV, texture.texels.data());
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        location = glGetUniformLocation(program, ("qrv_s" + std::to_string(unit)).c_str());
        if (location >= 0) glUniform1i(location, static_cast<GLint>(unit));
    }

    glGenVertexArrays(1, &array);
    glBindVertexArray(array);
    std::vector<GLuint> buffers;
    for (const auto &[index, corners] : setup.attributes) {
        GLuint buffer = 0;
        glGenBuffers(1, &buffer);
        buffers.push_back(buffer);
        glBindBuffer(GL_ARRAY_BUFFER, buffer);
        glBufferData(GL_ARRAY_BUFFER, sizeof corners, corners.data(), GL_STATIC_DRAW);
        glEnableVertexAttribArray(index);
        glVertexAttribPointer(index, 4, GL_FLOAT, GL_FALSE, 0, nullptr);
    }
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);

    pixels->assign(static_cast<size_t>(setup.width) * static_cast<size_t>(setup.height), Vec4{});
    glReadPixels(0, 0, setup.width, setup.height, GL_RGBA, GL_FLOAT, pixels->data());
    GLenum error = glGetError();

    for (const auto &[index, corners] : setup.attributes) glDisableVertexAttribArray(index);
    glDeleteBuffers(static_cast<GLsizei>(buffers.size()), buffers.data());
    glDeleteTextures(static_cast<GLsizei>(textures.size()), textures.data());
    glDeleteVertexArrays(1, &array);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteRenderbuffers(1, &colour);
    glDeleteFramebuffers(1, &framebuffer);
    glUseProgram(0);
    glDeleteProgram(program);
    if (error != GL_NO_ERROR) {
        *log = "GL error " + std::to_string(error);
        return false;
    }
    return true;
}

} // namespace qrv::testing
