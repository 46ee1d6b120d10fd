#include "common/ResourceUsage.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include <fmt/format.h>

namespace kestrel {

namespace {

double wallSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

}  // namespace

double processCpuSeconds() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

uint64_t peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (!line.starts_with("VmHWM:")) continue;
        // "VmHWM:     12345 kB"
        uint64_t kib = 0;
        for (const char c : line.substr(6))
            if (c >= '0' && c <= '9') kib = kib * 10 + static_cast<uint64_t>(c - '0');
        return kib * 1024;
    }
    return 0;
}

uint64_t residentBytes() {
    // "size resident shared ..." in pages; cheaper to read than status.
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return 0;
    unsigned long long size = 0, resident = 0;
    const bool read = std::fscanf(statm, "%llu %llu", &size, &resident) == 2;
    std::fclose(statm);
    return read ? resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

StageCost::StageCost() {
    start();
    sampler_ = std::thread([this] { sample(); });
}

StageCost::~StageCost() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    sampler_.join();
}

void StageCost::sample() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(5), [this] { return stopping_; })) {
        const uint64_t now = residentBytes();
        uint64_t peak = sampledPeak_.load();
        while (now > peak && !sampledPeak_.compare_exchange_weak(peak, now)) {
        }
    }
}

void StageCost::start() {
    processPeakStart_ = peakResidentBytes();
    sampledPeak_ = residentBytes();
    wallStart_ = wallSeconds();
    cpuStart_ = processCpuSeconds();
}

StageCost::Figures StageCost::lap() {
    Figures figures;
    figures.wallSeconds = wallSeconds() - wallStart_;
    figures.cpuSeconds = processCpuSeconds() - cpuStart_;
    const uint64_t processPeak = peakResidentBytes();
    figures.peakBytes = processPeak > processPeakStart_ ? processPeak : std::max(sampledPeak_.load(), residentBytes());
    figures.peakOfStage = figures.peakBytes != 0;
    start();
    return figures;
}

std::string describeStageCost(const StageCost::Figures& figures) {
    std::string text = fmt::format("{:.3f} s cpu {:.3f} s ({:.2f} cores)", figures.wallSeconds,
                                   figures.cpuSeconds, figures.cores());
    if (figures.peakBytes)
        text += fmt::format(" {} {:.1f} MB", figures.peakOfStage ? "peak" : "process peak",
                            static_cast<double>(figures.peakBytes) / 1e6);
    return text;
}

}  // namespace kestrel
