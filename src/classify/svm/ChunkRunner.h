#pragma once
// Runs the chunks of one short step on the calling thread and one helper
// thread. Training steps of the linear kernel take tens of microseconds, too
// short to start threads for, so the helper lives as long as the runner,
// spins briefly between steps and then sleeps. Chunks are claimed one at a
// time by whichever thread is free; the caller alone finishes every step if
// the helper is late, so a busy machine never makes a step wait for it. The
// caller chooses chunks whose results do not depend on which thread runs
// them.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrel {

class ChunkRunner {
public:
    using Job = std::function<void(int)>;

    ChunkRunner() = default;
    ~ChunkRunner();
    ChunkRunner(const ChunkRunner&) = delete;
    ChunkRunner& operator=(const ChunkRunner&) = delete;

    // True when the machine has a second core to offer.
    static bool helpful();

    // Calls job(c) once for every c in [0, count) and returns when all have
    // returned. With parallel false (or no second core) everything runs on
    // the calling thread, in chunk order.
    void run(int count, const Job& job, bool parallel);

private:
    void start();
    void helperLoop();
    void claim(uint32_t generation);

    std::thread helper_;
    bool started_ = false;
    uint32_t generation_ = 0;              // of the caller's latest step
    std::atomic<uint64_t> ticket_{0};      // generation << 32 | next unclaimed chunk
    std::atomic<int> count_{0};
    std::atomic<int> done_{0};
    std::atomic<const Job*> job_{nullptr};
    std::atomic<bool> sleeping_{false};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
};

}  // namespace kestrel
