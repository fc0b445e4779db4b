// Writes and reads 64 MiB through DiskWrite/DiskRead, and the same through a
// single WriteFile/ReadFile call of the platform layer and a single write/read
// of the host system. DiskWrite must write in 4096-byte chunks, so its honest
// floor is a plain loop of 4096-byte write() calls of the same bytes:
// BM_PosixWrite4096 is that floor, and BM_DiskWriteOverFloor times DiskWrite
// and the floor in turn within each iteration and reports DiskWrite's time
// divided by the floor's as the counter "over_floor".
#include "diskfile/diskfile.h"
#include "platform/win32.h"

#include <benchmark/benchmark.h>

#include <chrono>
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

// Writes the buffer to the file as DiskWrite's chunks would go, 4096 bytes
// a call, straight to the host system. False when a call fails.
bool PosixWriteChunks() {
    constexpr size_t kChunk = 4096;
    static_assert(kBytes % kChunk == 0);
    int fd = open(File().host.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < kBytes; done += kChunk)
        ok = write(fd, Buffer().data() + done, kChunk) == static_cast<ssize_t>(kChunk);
    return close(fd) == 0 && ok;
}

// Creates the file and writes the buffer through DiskWrite.
bool DiskWriteAll() {
    int16_t h = -1;
    if (!tx::DiskCreate(File().win.c_str(), 15, &h)) return false;
    const int written = tx::DiskWrite(h, Buffer().data(), kBytes);
    return tx::DiskClose(h) && written;
}

void BM_PosixWrite4096(benchmark::State& state) {
    for (auto _ : state) {
        if (!PosixWriteChunks()) return Fail(state, "write");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
}

void BM_DiskWriteOverFloor(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    tx::DiskInitHandles(140);
    std::chrono::duration<double> disk{0}, floor{0};
    for (auto _ : state) {
        const auto start = Clock::now();
        if (!DiskWriteAll()) return Fail(state, "DiskWrite");
        const auto middle = Clock::now();
        if (!PosixWriteChunks()) return Fail(state, "write");
        const auto end = Clock::now();
        disk += middle - start;
        floor += end - middle;
        state.SetIterationTime(std::chrono::duration<double>(middle - start).count());
    }
    tx::DiskTermHandles();
    state.counters["over_floor"] = disk.count() / floor.count();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kBytes);
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
BENCHMARK(BM_PosixWrite4096)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DiskWriteOverFloor)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_DiskRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadFileOnce)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PosixReadOnce)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
