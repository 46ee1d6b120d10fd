#pragma once
// The project's one parallel loop. Runs fn(i) for i in [0, count) on several
// threads. The calling thread works too and is the only one that calls
// `onProgress(done)`, so progress sinks need not be thread-safe. Stops
// handing out work once `stop()` is true; returns false in that case.
// An exception thrown by fn (or by stop/onProgress) stops the loop as well;
// once every thread has finished, the first one is thrown again in the
// caller's thread, so a failing worker never ends the process.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace kestrel {

inline unsigned workerCount(unsigned requested, size_t items) {
    unsigned n = requested ? requested : std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(n, items)));
}

// Workers for a loop whose items also wait on the disk (reading many small
// files, writing each result durably): by default twice as many as cores,
// so that a core is not left idle while a worker waits.
inline unsigned diskBoundWorkerCount(unsigned requested, size_t items) {
    if (requested) return workerCount(requested, items);
    return static_cast<unsigned>(std::max<size_t>(1, std::min<size_t>(2 * size_t(workerCount(0, items)), items)));
}

inline bool parallelFor(size_t count, unsigned threads, const std::function<void(size_t)>& fn,
                        const std::function<bool()>& stop = {},
                        const std::function<void(size_t)>& onProgress = {}) {
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::atomic<bool> stopped{false};
    std::atomic<bool> failed{false};
    std::exception_ptr firstFailure;
    std::mutex failureMutex;
    auto work = [&](bool reports) {
        try {
            for (;;) {
                if (stopped.load(std::memory_order_relaxed)) return;
                const size_t i = next.fetch_add(1);
                if (i >= count) return;
                fn(i);
                const size_t finished = done.fetch_add(1) + 1;
                if (stop && stop()) stopped = true;
                if (reports && onProgress) onProgress(finished);
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(failureMutex);
            if (!firstFailure) firstFailure = std::current_exception();
            failed = true;
            stopped = true;
        }
    };
    const unsigned n = workerCount(threads, count);
    std::vector<std::thread> pool;
    pool.reserve(n - 1);
    for (unsigned t = 1; t < n; ++t) pool.emplace_back(work, false);
    work(true);
    for (auto& t : pool) t.join();
    if (failed) std::rethrow_exception(firstFailure);
    if (onProgress) onProgress(done.load());
    return !stopped.load();
}

}  // namespace kestrel
