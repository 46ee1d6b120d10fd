#pragma once
// Runs the chunks of one short step on the calling thread and one helper
// thread. Training steps of the linear kernel take tens of microseconds, too
// short to start threads for, so the helper lives as long as the runner,
// spins briefly between steps and then sleeps. The caller works through the
// chunks from the first, the helper from the last, so each thread tends to
// keep the same chunks (and their data in its cache) from step to step; a
// chunk goes to whichever thread reaches it first, so the caller takes every
// chunk a late helper has not started (on a busy machine the caller may do
// all the work). The caller chooses chunks whose results do not depend on
// which thread runs them.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace kestrel {

class ChunkRunner {
public:
    // job(chunk, lane): lane 0 is the calling thread, lane 1 the helper.
    using Job = std::function<void(int, int)>;
    static constexpr int kMaxChunks = 16;

    ChunkRunner() = default;
    ~ChunkRunner();
    ChunkRunner(const ChunkRunner&) = delete;
    ChunkRunner& operator=(const ChunkRunner&) = delete;

    // True when the machine has a second core to offer and the helper is
    // allowed (it is unless KESTREL_SVM_THREADS is 1 or
    // setHelperAllowed(false) was called). Runners that already have their
    // helper keep it.
    static bool helpful();
    static void setHelperAllowed(bool allowed);
    static bool isHelperAllowed();

    // Calls job(c, lane) once for every c in [0, count) and returns when all
    // have returned; an exception of a job is rethrown then. With parallel false (or no second core, or more than
    // kMaxChunks chunks) everything runs on the calling thread, in chunk
    // order.
    void run(int count, const Job& job, bool parallel) {
        begin(count, job, parallel);
        finish();
    }
    // run in two parts: begin hands the step to the helper, which may start
    // on it at once; finish works on it here and returns when all chunks are
    // done. The job must stay alive until finish returns; every begin needs
    // its finish before the next begin.
    void begin(int count, const Job& job, bool parallel);
    void finish();

    // A pause for threads that wait on one another.
    static void relax() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }

private:
    void start();
    void helperLoop();
    // Claims and runs chunks of the given step until none is left; the
    // caller (lane 0) goes upwards, the helper (lane 1) downwards.
    void work(uint32_t generation, int lane);

    std::thread helper_;
    bool started_ = false;
    // The step between begin and finish.
    int pendingCount_ = 0;
    const Job* pendingJob_ = nullptr;
    bool pendingParallel_ = false;
    uint32_t generation_ = 0;            // of the caller's latest step
    // The step as one word, so that a claim checks all of it at once:
    // generation << 32 | chunk count << 16 | one bit per chunk claimed.
    // Once every chunk is claimed no claim of that step can succeed, so the
    // job may change then.
    alignas(64) std::atomic<uint64_t> state_{0};
    std::atomic<int> done_{0};
    std::atomic<const Job*> job_{nullptr};
    alignas(64) std::atomic<bool> sleeping_{false};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::exception_ptr failure_;         // the first exception of the step (under mutex_)
};

}  // namespace kestrel
