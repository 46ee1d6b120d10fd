#include "common/Gb18030Conversion.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "common/Encoding.h"
#include "common/IconvConverter.h"

namespace kestrel {

namespace {

constexpr std::string_view kReplacementUtf8 = "\xEF\xBF\xBD";

// Input bytes handed to iconv at once when a table has no answer: more than
// the longest character of either encoding, so that iconv decides about the
// character at the start exactly as it would within the whole text.
constexpr size_t kFallbackWindow = 16;

// The bytes of one character in a table entry, the first byte lowest; 0
// marks a character the table cannot answer for.
uint32_t pack(const unsigned char* bytes, size_t length) {
    uint32_t packed = 0;
    for (size_t k = 0; k < length; ++k) packed |= static_cast<uint32_t>(bytes[k]) << (8 * k);
    return packed;
}

// Character lengths told by the first bytes, of a valid character.
size_t gbLength(unsigned b0, unsigned b1) {
    if (b0 < 0x80) return 1;
    return b1 >= 0x30 && b1 <= 0x39 ? 4 : 2;
}
size_t utf8Length(unsigned b0, unsigned) { return b0 < 0x80 ? 1 : b0 < 0xE0 ? 2 : b0 < 0xF0 ? 3 : 4; }
size_t gbLength(const unsigned char* b) { return gbLength(b[0], b[1]); }
size_t utf8Length(const unsigned char* b) { return utf8Length(b[0], b[1]); }
size_t gbLength(uint32_t packed) { return gbLength(packed & 0xFF, (packed >> 8) & 0xFF); }
size_t utf8Length(uint32_t packed) { return utf8Length(packed & 0xFF, (packed >> 8) & 0xFF); }

using LengthFn = size_t (*)(const unsigned char*);

// Input items laid end to end (item k at starts[k] .. starts[k + 1]) and
// the table of what iconv makes of each.
struct TableSource {
    std::string input;
    std::vector<uint32_t> starts{0};

    void add(const unsigned char* bytes, size_t length) {
        input.append(reinterpret_cast<const char*>(bytes), length);
        starts.push_back(static_cast<uint32_t>(input.size()));
    }
    size_t count() const { return starts.size() - 1; }
};

// One item converted on its own: its packed output when iconv turns it into
// exactly one character, else 0.
uint32_t convertItem(iconv_t cd, const TableSource& source, size_t k, LengthFn outLength) {
    char* in = const_cast<char*>(source.input.data() + source.starts[k]);
    size_t inLeft = source.starts[k + 1] - source.starts[k];
    unsigned char out[16] = {};
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = sizeof out;
    const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const size_t produced = sizeof out - outLeft;
    if (rc == static_cast<size_t>(-1) || inLeft != 0 || produced == 0 || outLength(out) != produced) return 0;
    return pack(out, produced);
}

// The whole input in one pass, each character of the output credited to
// the next item. False when output and items fall out of step (an item
// giving no character or two): then `table` is to be filled item by item.
bool convertAll(iconv_t cd, const TableSource& source, LengthFn outLength, std::vector<uint32_t>& table) {
    std::vector<unsigned char> out(source.count() * 4 + 16);
    size_t item = 0;
    while (item < source.count()) {
        char* in = const_cast<char*>(source.input.data() + source.starts[item]);
        size_t inLeft = source.input.size() - source.starts[item];
        char* outPtr = reinterpret_cast<char*>(out.data());
        size_t outLeft = out.size();
        const size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        const size_t produced = out.size() - outLeft;
        const size_t reached = source.input.size() - inLeft;
        for (size_t q = 0; q < produced; ++item) {
            const size_t length = outLength(out.data() + q);
            if (item >= source.count() || q + length > produced || source.starts[item + 1] > reached) return false;
            table[item] = pack(out.data() + q, length);
            q += length;
        }
        if (item < source.count() && source.starts[item] != reached) return false;
        if (rc == static_cast<size_t>(-1)) {
            if (err == E2BIG) return false;
            ++item;  // refused: left to iconv whenever it occurs
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return true;
}

// The input bytes of item `index` of a table; false when the item is no
// character (its entry stays 0).
using ItemFn = bool (*)(size_t index, unsigned char* bytes, size_t& length);

// What iconv makes of each item, asked a block of items at a time when an
// entry of the block is first wanted: a short text pays only for the
// characters near its own. Safe to share between threads.
class LazyTable {
public:
    static constexpr size_t kBlock = 128;

    LazyTable(const char* to, const char* from, size_t items, ItemFn item, LengthFn outLength)
        : to_(to), from_(from), item_(item), outLength_(outLength), entries_(items, 0),
          ready_(new std::atomic<bool>[(items + kBlock - 1) / kBlock]()) {}
    ~LazyTable() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    LazyTable(const LazyTable&) = delete;
    LazyTable& operator=(const LazyTable&) = delete;

    // The entry of an item; 0 when iconv refuses it, or cannot be opened.
    uint32_t at(size_t index) {
        if (!ready_[index / kBlock].load(std::memory_order_acquire)) fill(index / kBlock);
        return entries_[index];
    }

private:
    void fill(size_t block) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (ready_[block].load(std::memory_order_relaxed)) return;
        if (!opened_) {
            cd_ = iconv_open(to_, from_);
            opened_ = true;
        }
        const size_t first = block * kBlock;
        const size_t count = std::min(kBlock, entries_.size() - first);
        TableSource source;
        std::vector<bool> isCharacter(count);
        for (size_t k = 0; k < count; ++k) {
            unsigned char bytes[4] = {'?'};
            size_t length = 1;
            isCharacter[k] = item_(first + k, bytes, length);
            source.add(bytes, isCharacter[k] ? length : 1);
        }
        std::vector<uint32_t> block_(count, 0);
        if (cd_ != reinterpret_cast<iconv_t>(-1) && !convertAll(cd_, source, outLength_, block_)) {
            for (size_t k = 0; k < count; ++k) block_[k] = convertItem(cd_, source, k, outLength_);
        }
        for (size_t k = 0; k < count; ++k) entries_[first + k] = isCharacter[k] ? block_[k] : 0;
        ready_[block].store(true, std::memory_order_release);
    }

    const char* to_;
    const char* from_;
    ItemFn item_;
    LengthFn outLength_;
    std::vector<uint32_t> entries_;
    std::unique_ptr<std::atomic<bool>[]> ready_;
    std::mutex mutex_;
    iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
    bool opened_ = false;
};

// Code points below U+10000 in UTF-8; surrogates are no characters.
bool codePointItem(size_t cp, unsigned char* b, size_t& length) {
    if (cp >= 0xD800 && cp <= 0xDFFF) return false;
    if (cp < 0x80) {
        b[0] = static_cast<unsigned char>(cp);
        length = 1;
    } else if (cp < 0x800) {
        b[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        b[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        length = 2;
    } else {
        b[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        b[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        b[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        length = 3;
    }
    return true;
}

// GB18030 bytes of every code point below U+10000, by code point.
LazyTable& gbOfCodePoint() {
    static LazyTable table("GB18030", "UTF-8", 0x10000, codePointItem, gbLength);
    return table;
}

// Two-byte GB18030 codes: lead byte 0x81 .. 0xFE, trail byte 0x40 .. 0xFE
// (0x7F, which is no trail byte, among them).
constexpr size_t kTrailBytes = 0xFE - 0x40 + 1;

size_t pairIndex(unsigned b0, unsigned b1) { return (b0 - 0x81) * kTrailBytes + (b1 - 0x40); }

bool pairItem(size_t index, unsigned char* b, size_t& length) {
    b[0] = static_cast<unsigned char>(0x81 + index / kTrailBytes);
    b[1] = static_cast<unsigned char>(0x40 + index % kTrailBytes);
    length = 2;
    return b[1] != 0x7F;
}

// UTF-8 bytes of every two-byte GB18030 code, by pairIndex.
LazyTable& utf8OfPair() {
    static LazyTable table("UTF-8", "GB18030", 126 * kTrailBytes, pairItem, utf8Length);
    return table;
}

// Output gathered in a small buffer and appended to the string in blocks.
class Output {
public:
    explicit Output(std::string& out) : out_(out) {}
    void put(char c) {
        if (used_ == sizeof buffer_) flush();
        buffer_[used_++] = c;
    }
    // All four bytes are written (one store), `length` of them kept.
    void putPacked(uint32_t packed, size_t length) {
        if (used_ + 4 > sizeof buffer_) flush();
        buffer_[used_] = static_cast<char>(packed);
        buffer_[used_ + 1] = static_cast<char>(packed >> 8);
        buffer_[used_ + 2] = static_cast<char>(packed >> 16);
        buffer_[used_ + 3] = static_cast<char>(packed >> 24);
        used_ += length;
    }
    // The string itself, for iconv to append to.
    std::string& flushed() {
        flush();
        return out_;
    }

private:
    void flush() {
        out_.append(buffer_, used_);
        used_ = 0;
    }
    std::string& out_;
    char buffer_[4096];
    size_t used_ = 0;
};

// The code point of the two- or three-byte UTF-8 sequence at s[i] when it
// is well-formed (no overlong form, no surrogate), else -1.
long bmpCodePoint(std::string_view s, size_t i, size_t& length) {
    const auto at = [&](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(s[i + k])); };
    const unsigned b0 = at(0);
    if (b0 >= 0xC2 && b0 < 0xE0 && i + 1 < s.size() && (at(1) & 0xC0) == 0x80) {
        length = 2;
        return static_cast<long>(((b0 & 0x1F) << 6) | (at(1) & 0x3F));
    }
    if (b0 < 0xE0 || b0 >= 0xF0 || i + 2 >= s.size()) return -1;
    const unsigned b1 = at(1);
    const unsigned low = b0 == 0xE0 ? 0xA0 : 0x80;
    const unsigned high = b0 == 0xED ? 0x9F : 0xBF;
    if (b1 < low || b1 > high || (at(2) & 0xC0) != 0x80) return -1;
    length = 3;
    return static_cast<long>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (at(2) & 0x3F));
}

// A text converted character by character: ASCII as it is, a character
// whose packed output `lookup(in, pos, length)` finds in a table (with its
// input length) from there, anything else by iconv.
template <typename Lookup>
std::string convertByTable(std::string_view in, const char* to, const char* from, std::string_view replacement,
                           SkipLengthFn skipLength, size_t& replaced, size_t (*outLength)(uint32_t), Lookup lookup) {
    IconvConverter fallback(to, from);
    const auto skip = [&](std::string_view s, size_t i) {
        ++replaced;
        return skipLength(s, i);
    };
    std::string result;
    result.reserve(in.size() + in.size() / 2 + 16);
    Output out(result);
    for (size_t pos = 0; pos < in.size();) {
        const auto b0 = static_cast<unsigned char>(in[pos]);
        if (b0 < 0x80) {
            out.put(static_cast<char>(b0));
            ++pos;
            continue;
        }
        size_t length = 0;
        if (const uint32_t packed = lookup(in, pos, length); packed != 0) {
            out.putPacked(packed, outLength(packed));
            pos += length;
            continue;
        }
        // Without iconv nothing converts: the text stays as it is.
        if (!fallback.usable()) return std::string(in);
        pos = fallback.step(in, pos, kFallbackWindow, out.flushed(), replacement, skip);
    }
    return std::move(out.flushed());
}

}  // namespace

std::string convertUtf8ToGb18030(std::string_view utf8, SkipLengthFn skipLength, size_t& replaced) {
    LazyTable& table = gbOfCodePoint();
    return convertByTable(utf8, "GB18030", "UTF-8", kReplacementGb18030, skipLength, replaced, gbLength,
                          [&](std::string_view s, size_t pos, size_t& length) -> uint32_t {
                              const long cp = bmpCodePoint(s, pos, length);
                              return cp >= 0 ? table.at(static_cast<size_t>(cp)) : 0;
                          });
}

std::string convertGb18030ToUtf8(std::string_view gb, SkipLengthFn skipLength, size_t& replaced) {
    LazyTable& table = utf8OfPair();
    return convertByTable(gb, "UTF-8", "GB18030", kReplacementUtf8, skipLength, replaced, utf8Length,
                          [&](std::string_view s, size_t pos, size_t& length) -> uint32_t {
                              const auto b0 = static_cast<unsigned char>(s[pos]);
                              if (b0 < 0x81 || b0 > 0xFE || pos + 1 >= s.size()) return 0;
                              const auto b1 = static_cast<unsigned char>(s[pos + 1]);
                              if (b1 < 0x40 || b1 > 0xFE) return 0;
                              length = 2;
                              return table.at(pairIndex(b0, b1));
                          });
}

}  // namespace kestrel
