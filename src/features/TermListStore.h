#pragma once
// The term lists of a corpus's documents (term ids and counts, in corpus
// order), compactly encoded so that a large corpus is read from its .seg
// files only once. A document's list is its number of entries, then each
// entry's term id and zigzag-coded count, all as base-128 varints: about
// four bytes per entry instead of twelve. The bytes are kept in memory up
// to a limit; beyond it they go to an unnamed temporary file in a given
// directory, which the system removes when the store closes it, even when
// the process is killed, so that no run ever leaves it behind.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Status.h"

namespace kestrel {

class TermListStore {
public:
    // `spillDirectory` empty: the store never writes a file, and appending
    // past `memoryLimit` bytes fails.
    TermListStore(std::string spillDirectory, size_t memoryLimit);
    ~TermListStore();
    TermListStore(TermListStore&& other) noexcept;
    TermListStore& operator=(TermListStore&& other) noexcept;
    TermListStore(const TermListStore&) = delete;
    TermListStore& operator=(const TermListStore&) = delete;

    // Where a document's list lies in the store and a checksum of its bytes.
    struct Span {
        uint64_t begin = 0;
        uint64_t end = 0;
        uint32_t crc = 0;
    };

    // Appends one document's list. A failure (the limit reached without a
    // spill directory, a temporary file that cannot be created or written)
    // leaves the store unusable; release() then frees what it holds.
    Result<Span> append(const std::vector<uint32_t>& ids, const std::vector<int64_t>& counts);
    // Writes out what is still buffered; call once after the last append.
    Status finish();
    // Frees the memory and closes the temporary file.
    void release();

    bool canSpill() const { return !directory_.empty(); }
    bool spilled() const { return fd_ >= 0; }
    uint64_t size() const { return size_; }

    // The bytes [begin, end): a view of the memory, or of `buffer` after
    // reading them from the file. Safe from several threads at once. A
    // failure when the file is shorter or cannot be read.
    Result<std::string_view> bytes(uint64_t begin, uint64_t end, std::string& buffer) const;

    // Decodes one document's list from the bytes of its span. False when
    // the bytes do not match the checksum or are not exactly one list whose
    // ids are below `termCount`.
    static bool decode(std::string_view bytes, uint32_t crc, uint32_t termCount, std::vector<uint32_t>& ids,
                       std::vector<int64_t>& counts);

private:
    Status spill();
    Status writeOut(std::string_view data);
    std::string directory_;
    size_t memoryLimit_;
    std::string memory_;  // every byte while not spilled; the unwritten tail after
    uint64_t size_ = 0;
    int fd_ = -1;
    std::string encoded_;  // one document's bytes
};

}  // namespace kestrel
