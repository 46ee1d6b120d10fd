#pragma once
// Helpers shared by the fuzzing harnesses. Readers that take a path get the
// fuzzer's bytes through a file in a private temporary directory, created
// once per process and removed at exit: under $TMPDIR when set, else in
// memory (/dev/shm) where there is one, since a disk write per input would
// slow fuzzing down tenfold.
#include <ftw.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kestrel::fuzz {

inline std::string_view bytesOf(const uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

inline const std::string& scratchDirectory() {
    static const std::string dir = [] {
        const char* base = getenv("TMPDIR");
        if (!base || !*base) base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/kestrel-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            perror("kestrel fuzz: cannot create a temporary directory");
            abort();
        }
        static std::string created = pattern;
        atexit([] {
            nftw(created.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); },
                 16, FTW_DEPTH | FTW_PHYS);
        });
        return pattern + "/";
    }();
    return dir;
}

// Writes `bytes` to `name` in the scratch directory and returns its path.
inline std::string writeScratchFile(const std::string& name, std::string_view bytes) {
    const std::string path = scratchDirectory() + name;
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() || fclose(file) != 0) {
        perror(("kestrel fuzz: cannot write " + path).c_str());
        abort();
    }
    return path;
}

// Stops the run when a property every input must keep is broken.
inline void require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "kestrel fuzz: broken property: %s\n", what);
        abort();
    }
}

}  // namespace kestrel::fuzz
