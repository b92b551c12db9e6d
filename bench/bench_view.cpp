// The ReliefView road against its baselines, each pair in the same run:
//   Render/View vs Render/RawGL       a 640 x 480 relief into a 426 x 426 window through
//                                     _QRV3DRender, against the same strips and photo
//                                     drawn with raw OpenGL (glDrawArrays per strip,
//                                     glReadPixels)
//   BuildStrips/WxH vs Memset/WxH     rebuilding the strips (no photo texture) as the
//                                     pop-up animation does, against memset of as many
//                                     bytes into memory that is kept
//   PopUpStep vs Render/View          one tick of the pop-up animation: _QRV3DEffect
//                                     type 2, _QRV3DGet3DImage with a 640 x 480 JPEG,
//                                     _QRV3DRender
//   Open4000x3000                     _QRV3DGet3DImage of a 4000 x 3000 JPEG with its
//                                     depth image, then the first _QRV3DRender; reports
//                                     the peak memory of the process (run it alone:
//                                     --benchmark_filter=Open)
//   Render4000/View vs /RawGL         a frame of that relief, for scale
// Run with --benchmark_repetitions=5 --benchmark_report_aggregates_only=true and
// compare the medians.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#define GL_GLEXT_PROTOTYPES 1
#include <GL/glcorearb.h>

#include "QRV3D.h"
#include "platform/d3d9/egl_context.h"
#include "qrv.h"
#include "raw_gl.h"
#include "view/relief_view.h"

namespace qrv::bench {
namespace {

constexpr int kFrameSize = 426;

// ---- Pictures made here ---------------------------------------------------------------

// Depth of a garden-like picture: hills, and a raised block that makes a step.
unsigned GreyAt(int c, int r, int w, int h) {
    const double fx = static_cast<double>(c) / w, fy = static_cast<double>(r) / h;
    double g = 100 + 60 * std::sin(fx * 12) * std::cos(fy * 9);
    if (fx > 0.5 && fy > 0.5) g += 80;
    return static_cast<unsigned>(g);
}

// A PackedDib of an 8-bit depth image with a grey ramp, in a movable block.
HGLOBAL DepthBlock(int w, int h) {
    const size_t stride = (static_cast<size_t>(w) + 3) / 4 * 4;
    const size_t size = 40 + 1024 + stride * static_cast<size_t>(h);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    auto *p = static_cast<uint8_t *>(GlobalLock(block));
    const int32_t header[3] = {40, w, h};
    std::memcpy(p, header, sizeof header);
    p[12] = 1;
    p[14] = 8;
    for (int i = 0; i < 256; ++i)
        p[40 + 4 * i] = p[41 + 4 * i] = p[42 + 4 * i] = static_cast<uint8_t>(i);
    uint8_t *pixels = p + 40 + 1024;
    for (int r = 0; r < h; ++r) // memory row r is picture row h - 1 - r
        for (int c = 0; c < w; ++c)
            pixels[stride * static_cast<size_t>(r) + static_cast<size_t>(c)] =
                static_cast<uint8_t>(GreyAt(c, h - 1 - r, w, h));
    GlobalUnlock(block);
    return block;
}

// A photo-like picture in B, G, R, A byte order, top row first.
std::vector<uint32_t> PhotoTexels(int w, int h) {
    std::vector<uint32_t> texels(static_cast<size_t>(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            texels[static_cast<size_t>(y) * w + x] =
                0xFF000000u | static_cast<uint32_t>(x * 255 / w) << 16 |
                static_cast<uint32_t>(y * 255 / h) << 8 | static_cast<uint32_t>((x ^ y) & 0xFF);
    return texels;
}

std::string WriteJpeg(const std::string &path, int w, int h) {
    const std::vector<uint32_t> texels = PhotoTexels(w, h);
    tjhandle tj = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long size = 0;
    if (tjCompress2(tj, reinterpret_cast<const unsigned char *>(texels.data()), w, 0, h, TJPF_BGRX,
                    &jpeg, &size, TJSAMP_420, 90, 0) != 0)
        throw std::runtime_error("no JPEG");
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(jpeg, 1, size, f);
    std::fclose(f);
    tjFree(jpeg);
    tjDestroy(tj);
    return path;
}

struct Files {
    Files() {
        folder =
            std::filesystem::temp_directory_path() / ("qrv-bench-view-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        photo640 = WriteJpeg((folder / "photo640.jpg").string(), 640, 480);
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::filesystem::path folder;
    std::string photo640;
};

Files &TheFiles() {
    static Files files;
    return files;
}

// ---- A view through the exports ---------------------------------------------------------

class ViewScene {
public:
    ViewScene() {
        window_.context = this;
        window_.clientSize = [](void *, int32_t *w, int32_t *h) { *w = *h = kFrameSize; };
        window_.present = [](void *context, const uint32_t *pixels, int32_t, int32_t, int32_t) {
            static_cast<ViewScene *>(context)->checksum_ += pixels[0];
        };
        handle_ = _QRV3DInit(&window_, nullptr, nullptr);
        if (!handle_ || !FindView(handle_)->device) throw std::runtime_error("no device");
    }
    ~ViewScene() { _QRV3DTerm(handle_); }
    ViewScene(const ViewScene &) = delete;
    ViewScene &operator=(const ViewScene &) = delete;

    ViewHandle handle() const { return handle_; }
    ReliefView *view() const { return FindView(handle_); }

private:
    QrvWindow window_{};
    ViewHandle handle_ = 0;
    uint64_t checksum_ = 0;
};

// The 640 x 480 relief of the render and pop-up benchmarks.
struct Relief640 {
    Relief640() : depth(DepthBlock(640, 480)) {
        if (FAILED(_QRV3DGet3DImage(scene.handle(), depth, nullptr, TheFiles().photo640.c_str())))
            throw std::runtime_error("no relief");
        _QRV3DRender(scene.handle());
    }
    ~Relief640() { GlobalFree(depth); }
    ViewScene scene;
    HGLOBAL depth;
};

Relief640 &TheRelief() {
    static Relief640 relief;
    return relief;
}

// ---- The same drawing with raw OpenGL ---------------------------------------------------

class RawScene {
public:
    // Draws the strips the view holds, with the photo's texels, as the view does.
    explicit RawScene(const ReliefView &view)
        : context_(d3d9::EglContext::Create(D3DDEVTYPE_HAL)), rows_(view.stripCount),
          vertsPerStrip_(view.vertsPerStrip) {
        if (!context_ || !context_->MakeCurrent()) throw std::runtime_error("no GL");
        void *data = nullptr;
        if (FAILED(view.stripBuffer->Lock(0, 0, &data, D3DLOCK_READONLY)))
            throw std::runtime_error("no strips");
        const size_t bytes = static_cast<size_t>(rows_) * vertsPerStrip_ * sizeof(StripVertex);
        std::vector<uint8_t> vertices(static_cast<uint8_t *>(data),
                                      static_cast<uint8_t *>(data) + bytes);
        view.stripBuffer->Unlock();
        context_->MakeCurrent();

        target_ = rawgl::BindTarget(kFrameSize, GL_DEPTH_COMPONENT16, GL_DEPTH_ATTACHMENT);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);

        glCreateBuffers(1, &buffer_);
        glNamedBufferData(buffer_, static_cast<GLsizeiptr>(bytes), vertices.data(), GL_STATIC_DRAW);
        vertexArray_ = rawgl::BindStripVertexArray(buffer_, sizeof(StripVertex));

        // A texture of the photo's size.
        D3DSURFACE_DESC photo{};
        view.photoTexture->GetLevelDesc(0, &photo);
        const int tw = static_cast<int>(photo.Width), th = static_cast<int>(photo.Height);
        const std::vector<uint32_t> texels = PhotoTexels(tw, th);
        texture_ = rawgl::BindTexture(tw, th, texels);

        program_ = rawgl::UseProgram("#version 330 core\n"
                                     "layout(location = 0) in vec3 position;\n"
                                     "layout(location = 1) in vec4 color;\n"
                                     "layout(location = 2) in vec2 uv;\n"
                                     "uniform mat4 mvp;\n"
                                     "out vec4 vColor;\n"
                                     "out vec2 vUv;\n"
                                     "void main() {\n"
                                     "  gl_Position = mvp * vec4(position, 1.0);\n"
                                     "  vColor = color; vUv = uv;\n"
                                     "}\n",
                                     rawgl::kPhotoFragmentShader);
        // The view's eye (0, 0, -2.5) and 45 degree projection, row vectors.
        const float y = 1.0f / std::tan(3.14159265f / 8.0f), q = 100.0f / 99.0f;
        const float mvp[16] = {y, 0, 0, 0, 0, y, 0, 0, 0, 0, q, 1, 0, 0, 2.5f * q - q, 2.5f};
        glUniformMatrix4fv(glGetUniformLocation(program_, "mvp"), 1, GL_FALSE, mvp);
        glUniform1i(glGetUniformLocation(program_, "photo"), 0);
        pixels_.resize(static_cast<size_t>(kFrameSize) * kFrameSize);
    }

    void Frame() {
        context_->MakeCurrent();
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        for (int r = 0; r < rows_; ++r)
            glDrawArrays(GL_TRIANGLE_STRIP, r * vertsPerStrip_, vertsPerStrip_);
        glReadPixels(0, 0, kFrameSize, kFrameSize, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                     pixels_.data());
        benchmark::DoNotOptimize(pixels_.data());
    }

private:
    std::unique_ptr<d3d9::EglContext> context_;
    int rows_, vertsPerStrip_;
    rawgl::Target target_;
    GLuint buffer_ = 0, vertexArray_ = 0, texture_ = 0, program_ = 0;
    std::vector<uint32_t> pixels_;
};

// ---- Benchmarks ----------------------------------------------------------------------

void Render_View(benchmark::State &state) {
    const ViewHandle view = TheRelief().scene.handle();
    for (auto _ : state)
        if (!_QRV3DRender(view)) state.SkipWithError("no frame");
}
BENCHMARK(Render_View)->Unit(benchmark::kMillisecond)->UseRealTime();

void Render_RawGL(benchmark::State &state) {
    static RawScene raw(*TheRelief().scene.view());
    raw.Frame();
    for (auto _ : state) raw.Frame();
}
BENCHMARK(Render_RawGL)->Unit(benchmark::kMillisecond)->UseRealTime();

void PopUpStep(benchmark::State &state) {
    // A tick rebuilds the relief at the animation's next percent and draws it. To
    // compare with a frame of the same relief, every tick here is the last one,
    // at full depth: a flatter relief lies farther back and costs fewer pixels.
    Relief640 &relief = TheRelief();
    const ViewHandle view = relief.scene.handle();
    for (auto _ : state) {
        _QRV3DEffect(view, 2, 0);
        _QRV3DGet3DImage(view, relief.depth, nullptr, TheFiles().photo640.c_str());
        if (!_QRV3DRender(view)) state.SkipWithError("no frame");
    }
}
BENCHMARK(PopUpStep)->Unit(benchmark::kMillisecond)->UseRealTime();

void BuildStrips(benchmark::State &state) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    static ViewScene scene;
    const HGLOBAL depth = DepthBlock(w, h);
    const std::string noPhoto = (TheFiles().folder / "no-photo.jpg").string();
    // The first build of a size makes its buffer; the animation's rebuilds reuse it.
    _QRV3DGet3DImage(scene.handle(), depth, nullptr, noPhoto.c_str());
    int tick = 0;
    for (auto _ : state) {
        _QRV3DEffect(scene.handle(), 2, (tick++ * 17) % 100);
        _QRV3DGet3DImage(scene.handle(), depth, nullptr, noPhoto.c_str());
    }
    state.SetBytesProcessed(state.iterations() * 2 * int64_t{w} * (h - 1) * 24);
    GlobalFree(depth);
    _QRV3DGet3DImage(scene.handle(), nullptr, nullptr, noPhoto.c_str()); // drop the strips
}
BENCHMARK(BuildStrips)
    ->Args({640, 480})
    ->Args({4000, 3000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void Memset(benchmark::State &state) {
    const size_t bytes = size_t{2} * static_cast<size_t>(state.range(0)) *
                         static_cast<size_t>(state.range(1) - 1) * 24;
    std::vector<uint8_t> memory(bytes, 1); // touched once, then kept
    int value = 0;
    for (auto _ : state) {
        std::memset(memory.data(), ++value & 0xFF, bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(Memset)
    ->Args({640, 480})
    ->Args({4000, 3000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

double Milliseconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

void Open4000x3000(benchmark::State &state) {
    static const std::string photo =
        WriteJpeg((TheFiles().folder / "photo4000.jpg").string(), 4000, 3000);
    static ViewScene scene;
    const HGLOBAL depth = DepthBlock(4000, 3000);
    // The first open meets fresh memory; later ones (another photo of the same
    // size) reuse what the view and the device keep.
    double build = 0, frame = 0, firstBuild = 0, firstFrame = 0;
    int64_t n = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (FAILED(_QRV3DGet3DImage(scene.handle(), depth, nullptr, photo.c_str())))
            state.SkipWithError("no relief");
        const double b = Milliseconds(start);
        start = std::chrono::steady_clock::now();
        if (!_QRV3DRender(scene.handle())) state.SkipWithError("no frame");
        const double f = Milliseconds(start);
        if (n++ == 0) {
            firstBuild = b;
            firstFrame = f;
        } else {
            build += b;
            frame += f;
        }
    }
    GlobalFree(depth);
    _QRV3DGet3DImage(scene.handle(), nullptr, nullptr, nullptr);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["first_get3dimage_ms"] = firstBuild;
    state.counters["first_render_ms"] = firstFrame;
    if (n > 1) {
        state.counters["get3dimage_ms"] = build / static_cast<double>(n - 1);
        state.counters["render_ms"] = frame / static_cast<double>(n - 1);
    }
}
// A frame of the 4000 x 3000 relief against raw OpenGL drawing the same strips.
struct Relief4000 {
    Relief4000() : depth(DepthBlock(4000, 3000)) {
        const std::string photo =
            WriteJpeg((TheFiles().folder / "frame4000.jpg").string(), 4000, 3000);
        if (FAILED(_QRV3DGet3DImage(scene.handle(), depth, nullptr, photo.c_str())))
            throw std::runtime_error("no relief");
        _QRV3DRender(scene.handle());
    }
    ~Relief4000() { GlobalFree(depth); }
    ViewScene scene;
    HGLOBAL depth;
};

Relief4000 &TheRelief4000() {
    static Relief4000 relief;
    return relief;
}

void Render4000_View(benchmark::State &state) {
    const ViewHandle view = TheRelief4000().scene.handle();
    for (auto _ : state)
        if (!_QRV3DRender(view)) state.SkipWithError("no frame");
}
BENCHMARK(Render4000_View)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void Render4000_RawGL(benchmark::State &state) {
    static RawScene raw(*TheRelief4000().scene.view());
    raw.Frame();
    for (auto _ : state) raw.Frame();
}
BENCHMARK(Render4000_RawGL)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

BENCHMARK(Open4000x3000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
} // namespace qrv::bench

BENCHMARK_MAIN();
