#pragma once
// How a long step reports progress, asks whether it should stop, and passes
// a message to the person running it, without knowing whether a window or a
// terminal is on the other side.
#include <cstdint>
#include <string_view>

namespace kestrel {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // `done` of `total` units of the named stage are finished (total 0: unknown).
    virtual void progress(std::string_view stage, uint64_t done, uint64_t total) {
        (void)stage; (void)done; (void)total;
    }
    // True when the person asked the step to stop.
    virtual bool cancelled() const { return false; }
    // An informational message with its caption (UTF-8).
    virtual void notify(std::string_view caption, std::string_view text) {
        (void)caption; (void)text;
    }
};

}  // namespace kestrel
