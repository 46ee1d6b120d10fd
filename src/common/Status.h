#pragma once
// The outcome of a call that can fail. A Status is either success or a
// failure with a message for the user (it names the file or input at fault);
// a Result<T> is either a value or such a failure. Every call in the core
// that can fail for reasons of its input reports it this way, so callers
// check one thing and pass one thing on.
#include <optional>
#include <string>
#include <utility>

namespace kestrel {

class [[nodiscard]] Status {
public:
    // Success.
    Status() = default;

    static Status success() { return Status(); }
    static Status failure(std::string message) {
        Status status;
        status.failed_ = true;
        status.message_ = std::move(message);
        return status;
    }

    bool ok() const { return !failed_; }
    explicit operator bool() const { return !failed_; }
    // Empty on success.
    const std::string& message() const { return message_; }

    // The same failure with `context` put in front ("reading x: " + message).
    Status withContext(const std::string& context) const {
        return failed_ ? failure(context + message_) : Status();
    }

private:
    bool failed_ = false;
    std::string message_;
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    // A failure; a successful status here is a programming error and is
    // turned into a failure with a message saying so.
    Result(Status failure)
        : status_(failure.ok() ? Status::failure("internal error: a result without a value") : std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return value_.has_value(); }
    const Status& status() const { return status_; }
    const std::string& message() const { return status_.message(); }

    // Only on success.
    T& value() & { return *value_; }
    const T& value() const& { return *value_; }
    T&& value() && { return std::move(*value_); }
    T& operator*() & { return *value_; }
    const T& operator*() const& { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }
    // The value, or `fallback` after a failure (for callers to whom a
    // failure means "nothing there").
    T valueOr(T fallback) const& { return value_ ? *value_ : std::move(fallback); }
    T valueOr(T fallback) && { return value_ ? std::move(*value_) : std::move(fallback); }

private:
    std::optional<T> value_;
    Status status_;
};

}  // namespace kestrel
