#pragma once
// Working segmenters kept between documents. A working segmenter learns the
// recurring word texts of what it segments (their ids, pair ids and tags),
// which makes later text faster; a copy made per document would start cold
// every time. Each call leases one, segments, and gives it back.
#include <memory>
#include <mutex>
#include <vector>

#include "segment/CWordSegment.h"

namespace kestrel {

class SegmenterPool {
public:
    explicit SegmenterPool(const CWordSegment& master) : master_(master) {}
    SegmenterPool(const SegmenterPool&) = delete;
    SegmenterPool& operator=(const SegmenterPool&) = delete;

    // A working segmenter for the lifetime of the lease.
    class Lease {
    public:
        Lease(SegmenterPool& pool, std::unique_ptr<CWordSegment> worker) : pool_(pool), worker_(std::move(worker)) {}
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        ~Lease() { pool_.give(std::move(worker_)); }
        CWordSegment& operator*() const { return *worker_; }
        CWordSegment* operator->() const { return worker_.get(); }

    private:
        SegmenterPool& pool_;
        std::unique_ptr<CWordSegment> worker_;
    };

    // One given back earlier, else a new copy of the master.
    Lease take() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                std::unique_ptr<CWordSegment> worker = std::move(free_.back());
                free_.pop_back();
                return Lease(*this, std::move(worker));
            }
        }
        return Lease(*this, std::make_unique<CWordSegment>(master_));
    }

    // Drops the kept segmenters; for when the master's data or settings
    // change (never while a lease is out).
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.clear();
    }

private:
    void give(std::unique_ptr<CWordSegment> worker) {
        if (!worker) return;
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(std::move(worker));
    }

    const CWordSegment& master_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<CWordSegment>> free_;
};

}  // namespace kestrel
