#include "cli/CommandLine.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace kestrel::cli {

Arguments::Arguments(int argc, char** argv, int first) {
    for (int i = first; i < argc; ++i) args_.emplace_back(argv[i]);
}

bool Arguments::next(std::string& name, bool& isOption) {
    pendingValue_.reset();
    name = args_[index_++];
    isOption = name.size() > 1 && name[0] == '-' && !(name.size() > 1 && (std::isdigit(static_cast<unsigned char>(name[1])) != 0));
    if (isOption && name.starts_with("--")) {
        const size_t eq = name.find('=');
        if (eq != std::string::npos) {
            pendingValue_ = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
    }
    current_ = name;
    return isOption;
}

bool Arguments::value(std::string& out) {
    if (pendingValue_) {
        out = *pendingValue_;
        pendingValue_.reset();
        return true;
    }
    if (index_ >= args_.size()) {
        error_ = "option " + current_ + " needs a value";
        return false;
    }
    out = args_[index_++];
    return true;
}

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

bool parseLong(std::string_view text, long& out) {
    const std::string s(text);
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    out = v;
    return true;
}

bool parseReal(std::string_view text, double& out) {
    const std::string s(text);
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || *end != '\0' || v != v) return false;
    out = v;
    return true;
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
