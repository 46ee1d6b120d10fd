#pragma once
// Small helpers shared by the kestrel subcommands: option parsing, messages
// on standard error, progress on a terminal.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/Progress.h"

namespace kestrel::cli {

// Walks argv: options with values ("--dim 50" or "--dim=50") and positional
// arguments. Unknown options are errors.
class Arguments {
public:
    Arguments(int argc, char** argv, int first);
    bool done() const { return index_ >= args_.size(); }
    // The next argument; true when it is an option (starts with '-').
    bool next(std::string& name, bool& isOption);
    // Value of the option just read; false (and an error) when missing.
    bool value(std::string& out);
    const std::string& error() const { return error_; }

private:
    std::vector<std::string> args_;
    size_t index_ = 0;
    std::optional<std::string> pendingValue_;
    std::string current_;
    std::string error_;
};

bool parseUnsigned(std::string_view text, uint32_t& out);
bool parseLong(std::string_view text, long& out);
bool parseReal(std::string_view text, double& out);

// Prints a message on standard error (UTF-8), prefixed by "kestrel: ".
void printError(std::string_view message);
// Prints a warning line on standard error.
void printWarning(std::string_view message);

// Progress on standard error when it is a terminal; notifications (the
// rough-set reduct size, for example) on standard output.
class TerminalProgress : public ProgressSink {
public:
    TerminalProgress();
    ~TerminalProgress() override;
    void progress(std::string_view stage, uint64_t done, uint64_t total) override;
    void notify(std::string_view caption, std::string_view text) override;
    void finishLine();

private:
    bool terminal_;
    bool lineOpen_ = false;
    int64_t lastMillis_ = 0;
};

// Seconds since an arbitrary start, for stage timings.
double nowSeconds();

}  // namespace kestrel::cli
