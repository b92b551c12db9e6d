// The StandaloneEngine's q3d model of a 1,024 x 768 depth image (a 4,096 x 3,072
// grid, about 50 MB of text) written with _QRV3DWriteQ3DFile(1, ...) and read back
// with _QRV3DReadQ3DFile(1, ...) on the OpenGL device, each against the same bytes
// written (with fsync) and read with plain POSIX calls: what the disk and the page
// cache allow. Throughput is counted in bytes of the model file.
//
//   bench_model --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qrv.h"
#include "standalone/standalone_engine.h"

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;

// An 8-bit depth image with a grey-ramp table: rolling hills over the whole
// picture, so that the grid values are spread over 1 to 255.
HGLOBAL MakeDepthImage() {
    const size_t stride = (kWidth + 3) / 4 * 4;
    const size_t bytes = 40 + 256 * 4 + stride * kHeight;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
    auto *p = static_cast<uint8_t *>(GlobalLock(block));
    const auto put32 = [](uint8_t *at, uint32_t v) { std::memcpy(at, &v, 4); };
    put32(p, 40);
    put32(p + 4, kWidth);
    put32(p + 8, kHeight);
    p[12] = 1;
    p[14] = 8;
    for (uint32_t i = 0; i < 256; ++i) put32(p + 40 + 4 * i, i * 0x010101u);
    uint8_t *pixels = p + 40 + 256 * 4;
    for (int r = 0; r < kHeight; ++r)
        for (int c = 0; c < kWidth; ++c)
            pixels[static_cast<size_t>(r) * stride + static_cast<size_t>(c)] = static_cast<uint8_t>(
                128 + 127 * std::sin(c / 37.0) * std::cos(r / 53.0));
    GlobalUnlock(block);
    return block;
}

struct Fixture {
    std::string folder;
    std::string model;
    std::string plain;
    HGLOBAL depth = nullptr;
    QrvWindow window{nullptr,
                     [](void *, int32_t *w, int32_t *h) {
                         *w = 64;
                         *h = 64;
                     },
                     [](void *, const uint32_t *, int32_t, int32_t, int32_t) {}};
    bool ready = false;

    Fixture() {
        char name[] = "/tmp/qrv-bench-model-XXXXXX";
        if (!mkdtemp(name)) return;
        folder = name;
        model = folder + "/hills.q3d";
        plain = folder + "/plain.txt";
        depth = MakeDepthImage();
        // The engine set up in the folder (no default model there) with the
        // shipped shaders.
        if (chdir(folder.c_str()) != 0) return;
        ready = _QRV3DInit(&window, QRV_SHADER_DIR "/relief.vsh", QRV_SHADER_DIR "/relief.psh") == 1;
        if (ready) _QRV3DWriteQ3DFile(1, depth, nullptr, model.c_str());
    }
    ~Fixture() {
        _QRV3DTerm(1);
        GlobalFree(depth);
        std::remove(model.c_str());
        std::remove(plain.c_str());
        rmdir(folder.c_str());
    }
    int64_t ModelBytes() const {
        struct stat s {};
        return stat(model.c_str(), &s) == 0 ? static_cast<int64_t>(s.st_size) : 0;
    }
};

Fixture &TheFixture() {
    static Fixture fixture;
    return fixture;
}

void WriteModel(benchmark::State &state) {
    Fixture &f = TheFixture();
    if (!f.ready) {
        state.SkipWithError("no OpenGL device for the StandaloneEngine");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(f.model.c_str()); // a new file each time, not a rewrite
        state.ResumeTiming();
        _QRV3DWriteQ3DFile(1, f.depth, nullptr, f.model.c_str());
    }
    state.SetBytesProcessed(state.iterations() * f.ModelBytes());
    state.counters["file_MB"] = static_cast<double>(f.ModelBytes()) / 1e6;
}
BENCHMARK(WriteModel)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReadModel(benchmark::State &state) {
    Fixture &f = TheFixture();
    if (!f.ready) {
        state.SkipWithError("no OpenGL device for the StandaloneEngine");
        return;
    }
    for (auto _ : state) {
        if (FAILED(_QRV3DReadQ3DFile(1, f.model.c_str()))) {
            state.SkipWithError("the model could not be read");
            return;
        }
    }
    if (qrv::standalone::engine.vertexCount != 4096u * 3072)
        state.SkipWithError("the model read back is not the 4,096 x 3,072 grid");
    state.SetBytesProcessed(state.iterations() * f.ModelBytes());
    state.counters["file_MB"] = static_cast<double>(f.ModelBytes()) / 1e6;
}
BENCHMARK(ReadModel)->Unit(benchmark::kMillisecond)->UseRealTime();

std::string ModelText(const Fixture &f) {
    std::string text;
    if (FILE *file = std::fopen(f.model.c_str(), "rb")) {
        text.resize(static_cast<size_t>(f.ModelBytes()));
        text.resize(std::fread(text.data(), 1, text.size(), file));
        std::fclose(file);
    }
    return text;
}

// The baseline of writing: the model's bytes into a new file, flushed to disk as
// a model save is.
void PlainWriteAndSync(benchmark::State &state) {
    Fixture &f = TheFixture();
    const std::string text = ModelText(f);
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(f.plain.c_str());
        state.ResumeTiming();
        const int fd = open(f.plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        fsync(fd);
        close(fd);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(PlainWriteAndSync)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline of reading: the model's bytes from the page cache.
void PlainRead(benchmark::State &state) {
    Fixture &f = TheFixture();
    std::vector<char> text(static_cast<size_t>(f.ModelBytes()) + 4096);
    for (auto _ : state) {
        const int fd = open(f.model.c_str(), O_RDONLY | O_CLOEXEC);
        size_t done = 0;
        while (true) {
            const ssize_t n = read(fd, text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        close(fd);
        benchmark::DoNotOptimize(done);
    }
    state.SetBytesProcessed(state.iterations() * f.ModelBytes());
}
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
