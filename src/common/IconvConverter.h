#pragma once
// An iconv conversion with a replacement for what it cannot convert. The
// descriptor is opened on first use, so that a conversion that never needs
// iconv does not pay for opening it.
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <string_view>

namespace kestrel {

class IconvConverter {
public:
    IconvConverter(const char* to, const char* from) : to_(to), from_(from) {}
    ~IconvConverter() {
        if (opened_ && valid()) iconv_close(cd_);
    }
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    // False when iconv does not know the two encodings.
    bool usable() {
        if (!opened_) {
            cd_ = iconv_open(to_, from_);
            opened_ = true;
        }
        return valid();
    }

    // The whole input converted. `skipLength(in, pos)` is called for the
    // input position that cannot be converted and returns how many input
    // bytes to skip; `replacement` is written in their place. Without a
    // usable descriptor the input comes back as it is.
    template <typename SkipFn>
    std::string run(std::string_view in, std::string_view replacement, SkipFn skipLength) {
        std::string out;
        if (!usable()) return std::string(in);
        out.reserve(in.size() + in.size() / 2 + 16);
        size_t pos = 0;
        while (pos < in.size()) pos = step(in, pos, in.size() - pos, out, replacement, skipLength);
        return out;
    }

    // Converts from `pos` up to the first sequence iconv refuses, or to
    // `pos` + `window` at most, and returns the position reached. A
    // sequence refused at `pos` itself is replaced and skipped. Encodings
    // without shift states convert each character on its own, so stepping
    // through the input in short windows gives what one conversion of the
    // whole input gives: an error at the end of a window is looked at again
    // by the next step, with the bytes after it. Needs usable().
    template <typename SkipFn>
    size_t step(std::string_view in, size_t pos, size_t window, std::string& out, std::string_view replacement,
                SkipFn skipLength) {
        char buffer[4096];
        const size_t end = pos + std::min(window, in.size() - pos);
        for (;;) {
            char* inPtr = const_cast<char*>(in.data() + pos);
            size_t inLeft = end - pos;
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            const size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            const int err = errno;
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            const size_t reached = end - inLeft;
            if (rc != static_cast<size_t>(-1) || reached > pos) return reached;
            if (err == E2BIG) continue;
            // EILSEQ or EINVAL at pos: an unconvertible or truncated sequence.
            out.append(replacement);
            pos += std::max<size_t>(1, skipLength(in, pos));
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            return pos;
        }
    }

private:
    bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    const char* to_;
    const char* from_;
    iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
    bool opened_ = false;
};

}  // namespace kestrel
