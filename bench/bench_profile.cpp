// Writing and reading a model-sized profile file: the 3,072 rows of a 4,096-point
// grid, one numbered key a row, 16 KiB a row, about 50 MB in all, as the model
// writer and reader use them (one ProfileFile kept for the whole export, one Save;
// one Load for the whole import, then every row through GetString into a buffer).
// Beside them, the same bytes written and read with plain POSIX calls.
//
//   bench_profile --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/profile.h"

namespace {

constexpr int kColumns = 4096;
constexpr int kRows = 3072;

struct Model {
    std::string folder;
    std::string path;
    std::vector<std::string> keys;
    std::vector<std::string> rows; // "%d," for every point: three digits and a comma

    Model()
    {
        char name[] = "/tmp/qrv-bench-profile-XXXXXX";
        if (mkdtemp(name) == nullptr) {
            std::abort();
        }
        folder = name;
        path = folder + "/model.q3d";
        char key[16];
        for (int r = 0; r < kRows; ++r) {
            std::snprintf(key, sizeof key, "Data%04d", r);
            keys.emplace_back(key);
            std::string row;
            row.reserve(kColumns * 4);
            for (int c = 0; c < kColumns; ++c) {
                row += std::to_string(100 + (r * 7 + c * 13) % 156);
                row += ',';
            }
            rows.push_back(std::move(row));
        }
    }
    ~Model()
    {
        std::remove(path.c_str());
        rmdir(folder.c_str());
    }
    int64_t Bytes() const
    {
        int64_t total = 0;
        for (int r = 0; r < kRows; ++r) {
            total += static_cast<int64_t>(keys[r].size() + 1 + rows[r].size() + 1);
        }
        return total;
    }
};

const Model &TheModel()
{
    static const Model model;
    return model;
}

void WriteModelFile(benchmark::State &state)
{
    const Model &model = TheModel();
    for (auto _ : state) {
        state.PauseTiming();
        std::remove(model.path.c_str());
        state.ResumeTiming();
        qrv::win32::ProfileFile file;
        file.Load(model.path);
        file.Set("Photo", "Width", std::to_string(kColumns));
        file.Set("Photo", "Height", std::to_string(kRows));
        for (int r = 0; r < kRows; ++r) {
            file.Set("Photo", model.keys[r], model.rows[r]);
        }
        if (!file.Save()) {
            state.SkipWithError("Save failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * model.Bytes());
}
BENCHMARK(WriteModelFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file rewritten in place: every row replaced, as a second export does.
void RewriteModelFile(benchmark::State &state)
{
    const Model &model = TheModel();
    for (auto _ : state) {
        qrv::win32::ProfileFile file;
        file.Load(model.path);
        for (int r = 0; r < kRows; ++r) {
            // One changed character a row, so that every row is a real change.
            std::string row = model.rows[r];
            row[0] = static_cast<char>('1' + state.iterations() % 2);
            file.Set("Photo", model.keys[r], row);
        }
        if (!file.Save()) {
            state.SkipWithError("Save failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * model.Bytes());
}
BENCHMARK(RewriteModelFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void ReadModelFile(benchmark::State &state)
{
    const Model &model = TheModel();
    std::vector<char> buffer(kColumns * 4 + 16);
    for (auto _ : state) {
        qrv::win32::ProfileFile file;
        if (!file.Load(model.path)) {
            state.SkipWithError("Load failed");
            break;
        }
        const UINT width = file.GetInt("Photo", "Width", 0);
        const UINT height = file.GetInt("Photo", "Height", 0);
        size_t total = width + height;
        for (int r = 0; r < kRows; ++r) {
            total += file.GetString("Photo", model.keys[r].c_str(), "", buffer.data(),
                                    static_cast<DWORD>(buffer.size()));
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed(state.iterations() * model.Bytes());
}
BENCHMARK(ReadModelFile)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same bytes through write() and fsync() into a fresh file, and read() back:
// what the disk and the page cache allow.
void PlainWriteAndSync(benchmark::State &state)
{
    const Model &model = TheModel();
    std::string text;
    for (int r = 0; r < kRows; ++r) {
        text += model.keys[r] + "=" + model.rows[r] + "\n";
    }
    const std::string path = model.folder + "/plain.txt";
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        size_t done = 0;
        while (done < text.size()) {
            const ssize_t n = write(fd, text.data() + done, text.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        fsync(fd);
        close(fd);
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(PlainWriteAndSync)->Unit(benchmark::kMillisecond)->UseRealTime();

void PlainRead(benchmark::State &state)
{
    const Model &model = TheModel();
    std::vector<char> text(static_cast<size_t>(model.Bytes()) + 4096);
    for (auto _ : state) {
        const int fd = open(model.path.c_str(), O_RDONLY | O_CLOEXEC);
        size_t done = 0;
        while (true) {
            const ssize_t n = read(fd, text.data() + done, text.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<size_t>(n);
        }
        close(fd);
        benchmark::DoNotOptimize(done);
    }
    state.SetBytesProcessed(state.iterations() * model.Bytes());
}
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
