#include "common/ResourceUsage.h"

#include <sys/resource.h>

#include <chrono>
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

bool resetPeakResident() {
    // Writing "5" to clear_refs sets the peak back to the current resident size.
    std::ofstream clear("/proc/self/clear_refs");
    if (!clear) return false;
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

StageCost::StageCost() { start(); }

void StageCost::start() {
    peakReset_ = resetPeakResident();
    wallStart_ = wallSeconds();
    cpuStart_ = processCpuSeconds();
}

StageCost::Figures StageCost::lap() {
    Figures figures;
    figures.wallSeconds = wallSeconds() - wallStart_;
    figures.cpuSeconds = processCpuSeconds() - cpuStart_;
    figures.peakBytes = peakResidentBytes();
    figures.peakOfStage = peakReset_;
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
