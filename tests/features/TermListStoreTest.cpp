#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "features/TermListStore.h"

using namespace kestrel;
using kestrel::testing::TempDir;
using kestrel::testing::descriptorsInto;

namespace {

size_t entriesIn(const std::string& dir) {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

struct List {
    std::vector<uint32_t> ids;
    std::vector<int64_t> counts;
};

}  // namespace

TEST(TermListStore, ListsComeBackFromMemoryAndFromTheTemporaryFile) {
    const std::vector<List> lists{{{0, 1, 300, 70000}, {1, INT64_MAX, INT64_MIN, -3}},
                                  {{}, {}},
                                  {{2}, {0}},
                                  {{UINT32_MAX - 1}, {128}}};
    TempDir dir;
    // A limit of 0 spills from the first list; a large one never does.
    for (const size_t limit : {size_t(0), size_t(1) << 20}) {
        std::vector<TermListStore::Span> spans;
        {
            TermListStore store(dir.dir(), limit);
            for (const List& l : lists) {
                auto span = store.append(l.ids, l.counts);
                ASSERT_TRUE(span) << span.message();
                spans.push_back(*span);
            }
            ASSERT_TRUE(store.finish());
            EXPECT_EQ(store.spilled(), limit == 0);
            // The file has no name: the directory stays empty.
            EXPECT_EQ(entriesIn(dir.dir()), 0u);
            std::string buffer;
            for (size_t k = 0; k < lists.size(); ++k) {
                auto bytes = store.bytes(spans[k].begin, spans[k].end, buffer);
                ASSERT_TRUE(bytes) << bytes.message();
                List back;
                ASSERT_TRUE(TermListStore::decode(*bytes, spans[k].crc, UINT32_MAX, back.ids, back.counts));
                EXPECT_EQ(back.ids, lists[k].ids);
                EXPECT_EQ(back.counts, lists[k].counts);
            }
            EXPECT_FALSE(store.bytes(0, store.size() + 1, buffer));
        }
        // Closing the store is the end of its file.
        EXPECT_TRUE(descriptorsInto(dir.dir()).empty());
    }
    // Without a directory to spill to, the limit is a failure, not a file.
    TermListStore bounded({}, 4);
    EXPECT_TRUE(bounded.append({1}, {1}));
    EXPECT_FALSE(bounded.append({1, 2}, {1, 1}));
}

TEST(TermListStore, DamagedOrTruncatedListsAreRefused) {
    TempDir dir;
    TermListStore store(dir.dir(), 0);
    auto span = store.append({5, 6, 7}, {1, 2, 3});
    ASSERT_TRUE(span);
    ASSERT_TRUE(store.finish());
    std::string buffer;
    const std::string bytes(*store.bytes(span->begin, span->end, buffer));
    List out;
    ASSERT_TRUE(TermListStore::decode(bytes, span->crc, 8, out.ids, out.counts));
    // An id beyond the terms, a changed byte, a missing or extra byte.
    EXPECT_FALSE(TermListStore::decode(bytes, span->crc, 7, out.ids, out.counts));
    std::string changed = bytes;
    changed[2] ^= 1;
    EXPECT_FALSE(TermListStore::decode(changed, span->crc, 8, out.ids, out.counts));
    EXPECT_FALSE(TermListStore::decode(bytes.substr(0, bytes.size() - 1), span->crc, 8, out.ids, out.counts));
    EXPECT_FALSE(TermListStore::decode(bytes + '\0', span->crc, 8, out.ids, out.counts));
    EXPECT_FALSE(TermListStore::decode("", 0, 8, out.ids, out.counts));

    // A file cut short behind the store's back is a failure when read.
    const std::vector<int> fds = descriptorsInto(dir.dir());
    ASSERT_EQ(fds.size(), 1u);
    ASSERT_EQ(ftruncate(fds[0], 1), 0);
    const auto cut = store.bytes(span->begin, span->end, buffer);
    ASSERT_FALSE(cut);
    EXPECT_NE(cut.message().find("ends early"), std::string::npos);
}
