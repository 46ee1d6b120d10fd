#include "classify/svm/ChunkRunner.h"

#include <chrono>

namespace kestrel {

namespace {

// How long the helper keeps looking for the next step before it sleeps:
// longer than the serial work between two steps of a training.
constexpr auto kSpinTime = std::chrono::microseconds(300);

inline void relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

}  // namespace

ChunkRunner::~ChunkRunner() {
    if (!started_) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    helper_.join();
}

bool ChunkRunner::helpful() {
    static const bool twoCores = std::thread::hardware_concurrency() >= 2;
    return twoCores;
}

void ChunkRunner::start() {
    started_ = true;
    try {
        helper_ = std::thread([this] { helperLoop(); });
    } catch (const std::system_error&) {
        started_ = false;  // no thread to be had: everything runs here
    }
}

void ChunkRunner::claim(uint32_t generation) {
    for (;;) {
        uint64_t t = ticket_.load();
        if (uint32_t(t >> 32) != generation) return;
        const int chunk = int(uint32_t(t));
        if (chunk >= count_.load(std::memory_order_relaxed)) return;
        if (!ticket_.compare_exchange_weak(t, t + 1)) continue;
        // The step cannot end before this chunk is counted, so the job is
        // still the one of this generation.
        (*job_.load(std::memory_order_relaxed))(chunk);
        done_.fetch_add(1);
    }
}

void ChunkRunner::helperLoop() {
    uint32_t seen = 0;
    for (;;) {
        auto fresh = [&]() { return uint32_t(ticket_.load() >> 32) != seen || stop_.load(); };
        if (!fresh()) {
            const auto until = std::chrono::steady_clock::now() + kSpinTime;
            int spins = 0;
            while (!fresh()) {
                relax();
                if (++spins % 64 == 0 && std::chrono::steady_clock::now() > until) {
                    std::unique_lock<std::mutex> lock(mutex_);
                    sleeping_ = true;
                    wake_.wait(lock, fresh);
                    sleeping_ = false;
                }
            }
        }
        if (stop_.load()) return;
        seen = uint32_t(ticket_.load() >> 32);
        claim(seen);
    }
}

void ChunkRunner::run(int count, const Job& job, bool parallel) {
    if (count <= 0) return;
    if (parallel && !started_ && helpful()) start();
    if (!parallel || !started_) {
        for (int c = 0; c < count; ++c) job(c);
        return;
    }
    ++generation_;
    if (generation_ == 0) generation_ = 1;  // 0 is the helper's starting point
    count_.store(count, std::memory_order_relaxed);
    job_.store(&job, std::memory_order_relaxed);
    done_.store(0, std::memory_order_relaxed);
    ticket_.store(uint64_t(generation_) << 32);
    if (sleeping_.load()) {
        // Taking the lock waits until the helper really sleeps, so the
        // notification cannot get lost.
        { std::lock_guard<std::mutex> lock(mutex_); }
        wake_.notify_one();
    }
    claim(generation_);
    int spins = 0;
    while (done_.load() < count) {
        relax();
        if (++spins % 256 == 0) std::this_thread::yield();
    }
}

}  // namespace kestrel
