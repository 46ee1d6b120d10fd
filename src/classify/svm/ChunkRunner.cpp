#include "classify/svm/ChunkRunner.h"

#include <chrono>
#include <cstdlib>
#include <pthread.h>

namespace kestrel {

namespace {

// How long the helper keeps looking for the next step before it sleeps:
// longer than the serial work between two steps of a training.
constexpr auto kSpinTime = std::chrono::microseconds(300);

uint32_t generationOf(uint64_t state) { return uint32_t(state >> 32); }
int countOf(uint64_t state) { return int((state >> 16) & 0xffff); }

// KESTREL_SVM_THREADS=1 keeps everything on the calling thread (for
// measurements, or a machine whose second core is better left alone).
std::atomic<bool>& helperAllowed() {
    static std::atomic<bool> allowed{[] {
        const char* limit = std::getenv("KESTREL_SVM_THREADS");
        return !(limit && std::strtol(limit, nullptr, 10) == 1);
    }()};
    return allowed;
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
    return twoCores && helperAllowed().load();
}

void ChunkRunner::setHelperAllowed(bool allowed) { helperAllowed() = allowed; }

bool ChunkRunner::isHelperAllowed() { return helperAllowed().load(); }

void ChunkRunner::start() {
    started_ = true;
    try {
        helper_ = std::thread([this] {
#ifdef __linux__
            pthread_setname_np(pthread_self(), "kestrel-helper");
#endif
            helperLoop();
        });
    } catch (const std::system_error&) {
        started_ = false;  // no thread to be had: everything runs here
    }
}

void ChunkRunner::work(uint32_t generation, int lane) {
    for (;;) {
        uint64_t state = state_.load();
        if (generationOf(state) != generation) return;
        const int count = countOf(state);
        int chunk = -1;
        for (int k = 0; k < count && chunk < 0; ++k) {
            const int c = lane == 0 ? k : count - 1 - k;
            if (!(state & (uint64_t(1) << c))) chunk = c;
        }
        if (chunk < 0) return;
        // A claim for an older step fails here, because the state has
        // changed since.
        if (!state_.compare_exchange_weak(state, state | (uint64_t(1) << chunk))) continue;
        // The step cannot end before this chunk is counted, so the job is
        // still the one of this generation. A failure (out of memory) is
        // handed to the caller, which rethrows it once the step is over.
        try {
            (*job_.load(std::memory_order_relaxed))(chunk, lane);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!failure_) failure_ = std::current_exception();
        }
        done_.fetch_add(1);
    }
}

void ChunkRunner::helperLoop() {
    uint32_t seen = 0;
    for (;;) {
        auto fresh = [&]() { return generationOf(state_.load()) != seen || stop_.load(); };
        if (!fresh()) {
            const auto until = std::chrono::steady_clock::now() + kSpinTime;
            int spins = 0;
            while (!fresh()) {
                ChunkRunner::relax();
                if (++spins % 64 == 0 && std::chrono::steady_clock::now() > until) {
                    std::unique_lock<std::mutex> lock(mutex_);
                    sleeping_ = true;
                    wake_.wait(lock, fresh);
                    sleeping_ = false;
                }
            }
        }
        if (stop_.load()) return;
        seen = generationOf(state_.load());
        work(seen, 1);
    }
}

void ChunkRunner::begin(int count, const Job& job, bool parallel) {
    pendingCount_ = count;
    pendingJob_ = &job;
    if (parallel && !started_ && count > 1 && helpful()) start();
    pendingParallel_ = parallel && started_ && count > 1 && count <= kMaxChunks;
    if (!pendingParallel_) return;
    if (++generation_ == 0) generation_ = 1;  // 0 is the helper's starting point
    job_.store(&job, std::memory_order_relaxed);
    done_.store(0, std::memory_order_relaxed);
    state_.store(uint64_t(generation_) << 32 | uint64_t(count) << 16);
    if (sleeping_.load()) {
        // Taking the lock waits until the helper really sleeps, so the
        // notification cannot get lost.
        { std::lock_guard<std::mutex> lock(mutex_); }
        wake_.notify_one();
    }
}

void ChunkRunner::finish() {
    const int count = pendingCount_;
    const Job* job = pendingJob_;
    pendingCount_ = 0;
    pendingJob_ = nullptr;
    if (count <= 0) return;
    if (!pendingParallel_) {
        for (int c = 0; c < count; ++c) (*job)(c, 0);
        return;
    }
    work(generation_, 0);
    int spins = 0;
    while (done_.load() < count) {
        ChunkRunner::relax();
        if (++spins % 256 == 0) std::this_thread::yield();
    }
    if (failure_) {
        std::exception_ptr failure;
        std::swap(failure, failure_);
        std::rethrow_exception(failure);
    }
}

}  // namespace kestrel
