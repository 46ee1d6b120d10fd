#pragma once
// What a stage of a run cost: wall-clock time, CPU time of every thread of
// the process, and the largest resident memory reached during it. Linux only:
// CPU time comes from getrusage, memory from /proc/self.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace kestrel {

// CPU seconds (user + system) used so far by all threads of this process.
double processCpuSeconds();

// Peak resident memory of this process in bytes (VmHWM), 0 when unknown.
uint64_t peakResidentBytes();

// Resident memory of this process now, in bytes (0 when unknown).
uint64_t residentBytes();

// Measures one stage after another: each lap() returns the cost of the stage
// since the previous lap (or construction) and starts the next one. The
// process's own peak is left alone, so what /usr/bin/time or getrusage
// report at the end stays the peak of the whole run. A stage's peak is the
// process's peak where that grew during the stage (exact), else the largest
// resident memory sampled during the stage (every few milliseconds, by a
// thread that lives as long as this object).
class StageCost {
public:
    struct Figures {
        double wallSeconds = 0;
        double cpuSeconds = 0;
        uint64_t peakBytes = 0;   // 0 when unknown
        bool peakOfStage = true;  // false: the process's peak so far

        // Average busy cores: CPU time over wall-clock time.
        double cores() const { return wallSeconds > 0 ? cpuSeconds / wallSeconds : 0; }
    };

    StageCost();
    ~StageCost();
    StageCost(const StageCost&) = delete;
    StageCost& operator=(const StageCost&) = delete;
    Figures lap();

private:
    void start();
    void sample();
    double wallStart_ = 0;
    double cpuStart_ = 0;
    uint64_t processPeakStart_ = 0;
    std::atomic<uint64_t> sampledPeak_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread sampler_;
};

// "1.234 s cpu 2.100 s (1.70 cores) peak 123.4 MB": the cost of a stage as
// printed after its name. Where the peak could not be reset for the stage it
// reads "process peak" (the largest since the process started).
std::string describeStageCost(const StageCost::Figures& figures);

}  // namespace kestrel
