#include "host/progress.h"

#include "host/systemfiles.h"

#include <cstdio>

namespace txlib {

namespace {

constexpr uint64_t kShownFrom = 4 * 1024 * 1024;
constexpr double kMiB = 1024.0 * 1024.0;

} // namespace

Progress::Progress(int verbosity, uint64_t total)
    : shown_(verbosity > 0 && total >= kShownFrom && IsTerminal(stderr)), total_(total) {}

Progress::~Progress() {
    Clear();
}

void Progress::Add(uint64_t bytes) {
    done_ += bytes;
    if (!shown_) return;
    const uint64_t done = done_ < total_ ? done_ : total_;
    const auto percent = static_cast<unsigned>(done * 100 / total_);
    if (percent == last_ && drawn_) return;
    last_ = percent;
    drawn_ = true;
    std::fprintf(stderr, "\rtxlib: %3u%% (%.1f of %.1f MiB)", percent,
                 static_cast<double>(done) / kMiB, static_cast<double>(total_) / kMiB);
    std::fflush(stderr);
}

void Progress::Clear() {
    if (!drawn_) return;
    drawn_ = false;
    std::fprintf(stderr, "\r%50s\r", "");
    std::fflush(stderr);
}

} // namespace txlib
