// Writes and reads 64 MiB through DiskWrite/DiskRead, and the same through a
// single WriteFile/ReadFile call of the platform layer and a single write/read
// of the host system, so that the cost of the layer's 4096-byte write chunks
// shows as a ratio.
#include "diskfile/diskfile.h"
#include "platform/win32.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr uint32_t kBytes = 64u << 20;

struct Scratch {
    std::string host;
    std::string win;
    Scratch() {
        char dir[] = "/tmp/txbench-XXXXXX";
        if (mkdtemp(dir) == nullptr) std::abort();
        host = std::string(dir) + "/data";
        win = "Z:" + host;
        for (char& c : win)
            if (c == '/') c = '\\';
    }
    ~Scratch() {
        unlink(host.c_str());
        rmdir(host.substr(0, host.rfind('/')).c_str());
    }
};

Scratch& File() {
    static Scratch scratch;
    return scratch;
}

std::vector<char>& Buffer() {
    static std::vector<char> buffer(kBytes, 'x');
    return buffer;
}

void Fail(benchmark::State& state, const char* what) {
    state.SkipWithError(what);
}

void BM_DiskWrite(benchmark::State& state) {
    tx::DiskInitHandles(140);
    for (auto _ : state) {
        int16_t h = -1;
        if (!tx::DiskCreate(File().win.c_str(), 15, &h)) return Fail(state, "DiskCreate");
        if (!tx::DiskWrite(h, Buffer().data(), kBytes)) return Fail(state, "DiskWrite");
        tx::DiskClose(h);
    }
    tx::DiskTermHandles();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}

void BM_WriteFileOnce(benchmark::State& state) {
    for (auto _ : state) {
        HANDLE h = CreateFileA(File().win.c_str(), GENERIC_READ | GENERIC_WRITE, 3, nullptr,
                               CREATE_ALWAYS, FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return Fail(state, "CreateFileA");
        DWORD written = 0;
        if (!WriteFile(h, Buffer().data(), kBytes, &written, nullptr) || written != kBytes)
            return Fail(state, "WriteFile");
        CloseHandle(h);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}

void BM_PosixWriteOnce(benchmark::State& state) {
    for (auto _ : state) {
        int fd = open(File().host.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return Fail(state, "open");
        size_t done = 0;
        while (done < kBytes) { // write() moves at most about 2 GiB; one call suffices here
            ssize_t n = write(fd, Buffer().data() + done, kBytes - done);
            if (n <= 0) return Fail(state, "write");
            done += static_cast<size_t>(n);
        }
        close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}

void BM_DiskRead(benchmark::State& state) {
    tx::DiskInitHandles(140);
    for (auto _ : state) {
        int16_t h = -1;
        if (!tx::DiskOpen(File().win.c_str(), 13, &h)) return Fail(state, "DiskOpen");
        if (!tx::DiskRead(h, Buffer().data(), kBytes)) return Fail(state, "DiskRead");
        tx::DiskClose(h);
    }
    tx::DiskTermHandles();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}

void BM_ReadFileOnce(benchmark::State& state) {
    for (auto _ : state) {
        HANDLE h = CreateFileA(File().win.c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING,
                               FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return Fail(state, "CreateFileA");
        DWORD got = 0;
        if (!ReadFile(h, Buffer().data(), kBytes, &got, nullptr) || got != kBytes)
            return Fail(state, "ReadFile");
        CloseHandle(h);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}

void BM_PosixReadOnce(benchmark::State& state) {
    for (auto _ : state) {
        int fd = open(File().host.c_str(), O_RDONLY);
        if (fd < 0) return Fail(state, "open");
        size_t done = 0;
        while (done < kBytes) {
            ssize_t n = read(fd, Buffer().data() + done, kBytes - done);
            if (n <= 0) return Fail(state, "read");
            done += static_cast<size_t>(n);
        }
        close(fd);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}

// The writes run first: the reads use the file they leave behind.
BENCHMARK(BM_DiskWrite)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteFileOnce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PosixWriteOnce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiskRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadFileOnce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PosixReadOnce)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
