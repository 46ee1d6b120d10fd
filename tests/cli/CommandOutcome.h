#pragma once
// Runs a shell command line, or the kestrel program, as a user would and
// keeps what it printed, for the command-line tests.
#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace kestrel::testing {

struct Outcome {
    int status = -1;
    std::string output;  // standard output and standard error together
};

inline Outcome runShell(const std::string& line) {
    const std::string command = line + " 2>&1";
    Outcome outcome;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return outcome;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) outcome.output.append(buffer, n);
    const int raw = pclose(pipe);
    outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return outcome;
}

// Runs `kestrel <arguments>` through the shell (so the arguments may hold
// redirections) with standard error joined to standard output.
inline Outcome run(const std::string& arguments) {
    return runShell(std::string(KESTREL_BIN_DIR) + "/kestrel " + arguments);
}

inline bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace kestrel::testing
