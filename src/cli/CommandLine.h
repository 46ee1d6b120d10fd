#pragma once
// Small helpers shared by the kestrel subcommands: number arguments, messages
// on standard error, progress on a terminal.
#include <cstdint>
#include <string>
#include <string_view>

#include "common/Progress.h"

namespace kestrel::cli {

// A whole-text unsigned number.
bool parseUnsigned(std::string_view text, uint32_t& out);

// A directory argument as the dialogs hold it: exactly one trailing '/'.
std::string directoryArgument(std::string path);

// The directory the program was started in (the segmenter's data is looked
// up below it).
std::string currentDirectory();

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
