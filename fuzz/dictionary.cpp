// The dictionary loader (core, bigram and role dictionaries share it) and
// the lookups the segmenter makes on what it loaded. A dictionary that
// loads must save to bytes that load to the same dictionary.
#include <algorithm>

#include "FuzzSupport.h"
#include "segment/CDictionary.h"

using namespace kestrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::bytesOf(data, size);
    CDictionary dictionary;
    if (const Status loaded = dictionary.loadFromBytes(bytes, "input"); !loaded) {
        fuzz::require(!loaded.message().empty() && dictionary.entryCount() == 0,
                      "a failed load leaves a message and no entries");
        return 0;
    }

    const std::string saved = dictionary.serialize();
    CDictionary again;
    fuzz::require(again.loadFromBytes(saved, "saved").ok(), "a saved dictionary loads");
    fuzz::require(again.serialize() == saved, "a saved dictionary loads unchanged");

    // Every entry is found again, through each kind of lookup.
    int handles[CDictionary::kMaxHandles];
    int frequencies[CDictionary::kMaxHandles];
    size_t checked = 0;
    for (int cell = 0; cell < CDictionary::kCellCount && checked < 200; ++cell) {
        for (const CDictionary::Entry& entry : dictionary.cellEntries(cell)) {
            if (++checked > 200) break;
            dictionary.isWord(entry.text, entry.handle);
            dictionary.getHandles(entry.text, handles, frequencies);
            dictionary.getFrequency(entry.text, entry.handle);
            std::string word;
            int handle = 0;
            dictionary.getMaxMatch(entry.text, word, handle);
            dictionary.probePrefix(entry.text);
            const CDictionary::PrefixRange range = dictionary.prefixRange(entry.text);
            if (!range.empty() && (entry.text.empty() || entry.text.back() != ' '))
                dictionary.frequencyInRange(range, entry.text, entry.handle);
        }
    }
    // The pair index scores every pair entry as its joined text does.
    CDictionary pairs;
    fuzz::require(pairs.loadFromBytes(bytes, "input", CDictionary::Index::kPairs).ok(),
                  "what loads with prefixes loads with the pair index");
    std::string scratch;
    checked = 0;
    for (int cell = 0; cell < CDictionary::kCellCount && checked < 200; ++cell) {
        for (const CDictionary::Entry& entry : dictionary.cellEntries(cell)) {
            const size_t at = entry.text.find('@');
            if (at == std::string::npos || ++checked > 200) continue;
            const std::string_view text = entry.text;
            const std::string_view first = text.substr(0, at), second = text.substr(at + 1);
            fuzz::require(pairs.pairFrequency(first, pairs.pairWordId(first), second, pairs.pairWordId(second),
                                              scratch) == dictionary.getFrequency(entry.text, 3),
                          "a pair scores as its joined text");
        }
    }
    // Pieces of the input as words: arbitrary bytes reach the lookups too.
    for (size_t start = 0; start + 1 < size && start < 4096; start += 37) {
        const std::string_view piece = bytes.substr(start, 1 + data[start] % 12);
        dictionary.isWord(piece);
        dictionary.getHandles(piece, handles, frequencies, 1 + data[start] % CDictionary::kMaxHandles);
        // The word graph keeps what the probe found instead of asking getHandles.
        const CDictionary::PrefixProbe probe = dictionary.probePrefix(piece);
        const int count = dictionary.getHandles(piece, handles, frequencies);
        double sum = 0;
        for (int i = 0; i < count; ++i) sum += frequencies[i];
        fuzz::require(probe.count == count && probe.frequencySum == sum, "a probe finds what getHandles finds");
        std::string word;
        int handle = 0;
        dictionary.getMaxMatch(piece, word, handle);
        CDictionary::Location where;
        CDictionary::locate(piece, where);
    }
    return 0;
}
