// Costs of the library layer on containers of 1000 entries: opening one,
// looking names up in sorted and unsorted directories, and creating 1000
// members of 64 KiB one after another (with every directory growth that
// brings) against writing the same bytes to one plain file.
#include "container_fixture.h"
#include "diskfile/diskfile.h"
#include "library/libtable.h"
#include "library/searchlist.h"
#include "support/error.h"
#include "vfile/virtual.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kEntries = 1000;
constexpr uint32_t kMemberBytes = 64u << 10;

struct Scratch {
    std::string host;
    Scratch() {
        char dir[] = "/tmp/txlibbench-XXXXXX";
        if (mkdtemp(dir) == nullptr) std::abort();
        host = dir;
    }
    ~Scratch() {
        for (const char* name : {"unsorted.lib", "sorted.lib", "grow.lib", "plain.bin"})
            unlink((host + "/" + name).c_str());
        rmdir(host.c_str());
    }
    std::string win(const char* name) const {
        std::string path = "Z:" + host + "/" + name;
        for (char& c : path)
            if (c == '/') c = '\\';
        return path;
    }
    void write(const char* name, const std::string& bytes) const {
        std::ofstream(host + "/" + name, std::ios::binary) << bytes;
    }
};

Scratch& Dir() {
    static Scratch scratch;
    return scratch;
}

std::string Name(int i, const char* prefix = "") {
    char text[16];
    std::snprintf(text, sizeof text, "%sN%04d.OBJ", prefix, i);
    return text;
}

// Containers of 1000 members of 16 bytes; the sorted one holds the same
// names in ascending order (the numbering makes them so).
void MakeContainers() {
    static bool made = false;
    if (made) return;
    txtest::FixtureContainer spec;
    spec.capacity = kEntries;
    for (int i = 0; i < kEntries; ++i)
        spec.members.push_back({Name(i), std::string(16, 'd')});
    Dir().write("sorted.lib", [&] {
        spec.sorted = 1;
        return txtest::BuildContainer(spec);
    }());
    spec.sorted = 0;
    Dir().write("unsorted.lib", txtest::BuildContainer(spec));
    made = true;
}

void Start() {
    tx::DiskInitHandles(140);
    tx::FileLayerInit();
    tx::VirtualInit();
    tx::g_layer.report_errors = 0;
}

void Stop() {
    tx::VirtualTerm();
    tx::DiskTermHandles();
}

void BM_OpenContainer1000(benchmark::State& state) {
    MakeContainers();
    Start();
    const std::string path = Dir().win("unsorted.lib");
    for (auto _ : state) {
        int16_t selector;
        if (!tx::LibraryOpenExisting(path.c_str(), &selector, -1)) state.SkipWithError("open");
        tx::LibraryClose(selector);
    }
    Stop();
}
BENCHMARK(BM_OpenContainer1000);

void Lookups(benchmark::State& state, const char* file) {
    MakeContainers();
    Start();
    int16_t selector;
    if (!tx::LibraryOpenExisting(Dir().win(file).c_str(), &selector, -1)) {
        state.SkipWithError("open");
        Stop();
        return;
    }
    std::vector<std::string> names;
    for (int i = 0; i < kEntries; ++i)
        names.push_back(Name((i * 617) % kEntries));
    size_t next = 0;
    char buffer[261];
    for (auto _ : state) {
        tx::LibrarySelect(selector);
        std::strcpy(buffer, names[next].c_str());
        if (tx::DirectoryLookup(buffer, tx::kLookupTest) < 0) state.SkipWithError("lookup");
        next = next + 1 == names.size() ? 0 : next + 1;
    }
    tx::LibraryClose(selector);
    Stop();
}

void BM_LookupUnsorted1000(benchmark::State& state) {
    Lookups(state, "unsorted.lib");
}
void BM_LookupSorted1000(benchmark::State& state) {
    Lookups(state, "sorted.lib");
}
BENCHMARK(BM_LookupUnsorted1000);
BENCHMARK(BM_LookupSorted1000);

// 64 KiB goes out in two writes: one call moves at most 65535 bytes.
bool WriteMember(int16_t handle, std::vector<char>& data) {
    return tx::FileWriteExact(handle, data.data(), 65000) &&
           tx::FileWriteExact(handle, data.data() + 65000, kMemberBytes - 65000);
}

void BM_Create1000Members64K(benchmark::State& state) {
    Start();
    std::vector<char> data(kMemberBytes, 'm');
    const std::string path = Dir().win("grow.lib");
    for (auto _ : state) {
        std::remove((Dir().host + "/grow.lib").c_str());
        int16_t selector;
        if (!tx::LibraryOpen(path.c_str(), &selector, 1, 0, 0, -1, 0, 0)) {
            state.SkipWithError("create container");
            break;
        }
        for (int i = 0; i < kEntries; ++i) {
            int16_t h;
            if (!tx::FileCreate(Name(i, "|").c_str(), &h, selector) || !WriteMember(h, data) ||
                !tx::FileClose(h)) {
                state.SkipWithError("member");
                break;
            }
        }
        tx::LibraryClose(selector);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kEntries * kMemberBytes);
    Stop();
}
BENCHMARK(BM_Create1000Members64K)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_PlainFile64M(benchmark::State& state) {
    Start();
    std::vector<char> data(kMemberBytes, 'm');
    const std::string path = Dir().win("plain.bin");
    for (auto _ : state) {
        int16_t h;
        if (!tx::FileCreate(path.c_str(), &h, -1)) {
            state.SkipWithError("create");
            break;
        }
        for (int i = 0; i < kEntries; ++i)
            WriteMember(h, data);
        tx::FileClose(h);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kEntries * kMemberBytes);
    Stop();
}
BENCHMARK(BM_PlainFile64M)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
BENCHMARK_MAIN();
