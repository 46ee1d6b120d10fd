#pragma once
// What a stage of a run cost: wall-clock time, CPU time of every thread of
// the process, and the largest resident memory reached during it. Linux only:
// CPU time comes from getrusage, memory from /proc/self.
#include <cstdint>
#include <string>

namespace kestrel {

// CPU seconds (user + system) used so far by all threads of this process.
double processCpuSeconds();

// Peak resident memory of this process in bytes (VmHWM), 0 when unknown.
uint64_t peakResidentBytes();

// Starts a new peak: afterwards peakResidentBytes() is the largest resident
// memory reached since this call. False where the kernel refuses, in which
// case the peak stays the one since the process started.
bool resetPeakResident();

// Measures one stage after another: each lap() returns the cost of the stage
// since the previous lap (or construction) and starts the next one. Each
// stage starts a new peak, so the peak the kernel reports for the whole
// process (getrusage, /usr/bin/time) is afterwards only that of the last
// stage: the whole run's peak is the largest of the stages'.
class StageCost {
public:
    struct Figures {
        double wallSeconds = 0;
        double cpuSeconds = 0;
        uint64_t peakBytes = 0;   // 0 when unknown
        bool peakOfStage = true;  // false: the process's peak so far (no reset possible)

        // Average busy cores: CPU time over wall-clock time.
        double cores() const { return wallSeconds > 0 ? cpuSeconds / wallSeconds : 0; }
    };

    StageCost();
    Figures lap();

private:
    void start();
    double wallStart_ = 0;
    double cpuStart_ = 0;
    bool peakReset_ = false;
};

// "1.234 s cpu 2.100 s (1.70 cores) peak 123.4 MB": the cost of a stage as
// printed after its name. Where the peak could not be reset for the stage it
// reads "process peak" (the largest since the process started).
std::string describeStageCost(const StageCost::Figures& figures);

}  // namespace kestrel
