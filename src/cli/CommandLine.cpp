#include "cli/CommandLine.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "common/FileSystem.h"

namespace kestrel::cli {

bool parseUnsigned(std::string_view text, uint32_t& out) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

std::string directoryArgument(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return withTrailingSlash(path);
}

std::string currentDirectory() {
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
}

void printError(std::string_view message) {
    std::fprintf(stderr, "kestrel: %.*s\n", static_cast<int>(message.size()), message.data());
}

void printWarning(std::string_view message) {
    std::fprintf(stderr, "kestrel: warning: %.*s\n", static_cast<int>(message.size()), message.data());
}

TerminalProgress::TerminalProgress() : terminal_(isatty(STDERR_FILENO) != 0) {}

TerminalProgress::~TerminalProgress() { finishLine(); }

void TerminalProgress::progress(std::string_view stage, uint64_t done, uint64_t total) {
    if (!terminal_) return;
    const auto millis = static_cast<int64_t>(nowSeconds() * 1000);
    if (done != total && millis - lastMillis_ < 100) return;
    lastMillis_ = millis;
    if (total) std::fprintf(stderr, "\r%.*s %llu/%llu ", static_cast<int>(stage.size()), stage.data(),
                            static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
    else std::fprintf(stderr, "\r%.*s %llu ", static_cast<int>(stage.size()), stage.data(),
                      static_cast<unsigned long long>(done));
    std::fflush(stderr);
    lineOpen_ = true;
}

void TerminalProgress::notify(std::string_view caption, std::string_view text) {
    finishLine();
    (void)caption;
    std::printf("%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(stdout);
}

void TerminalProgress::finishLine() {
    if (lineOpen_) {
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        lineOpen_ = false;
    }
}

double nowSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace kestrel::cli
