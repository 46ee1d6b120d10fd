#include "features/TermIndex.h"

namespace kestrel {

void TermIndex::clear() {
    entries_.clear();
    lookup_.clear();
}

void TermIndex::addOccurrence(std::string_view term, uint32_t category, uint32_t categoryCount) {
    auto it = lookup_.find(term);
    if (it != lookup_.end()) {
        countAgain(entries_[it->second], category);
        return;
    }
    lookup_.emplace(std::string(term), entries_.size());
    append(term, category, categoryCount);
}

void TermIndex::addNumberedOccurrence(uint32_t id, std::string_view term, uint32_t category, uint32_t categoryCount) {
    if (id < entries_.size()) countAgain(entries_[id], category);
    else append(term, category, categoryCount);
}

void TermIndex::countAgain(TermEntry& e, uint32_t category) {
    ++e.docCount;
    if (category < e.classDocCount.size()) ++e.classDocCount[category];
}

void TermIndex::append(std::string_view term, uint32_t category, uint32_t categoryCount) {
    TermEntry e;
    e.term = std::string(term);
    e.docCount = 1;
    e.firstSeen = static_cast<uint32_t>(entries_.size());
    e.classDocCount.assign(categoryCount, 0);
    if (category < categoryCount) e.classDocCount[category] = 1;
    entries_.push_back(std::move(e));
}

long TermIndex::find(std::string_view term) const {
    auto it = lookup_.find(term);
    return it == lookup_.end() ? -1 : static_cast<long>(it->second);
}

void TermIndex::reindex() {
    lookup_.clear();
    lookup_.reserve(entries_.size());
    for (size_t i = 0; i < entries_.size(); ++i) lookup_.emplace(entries_[i].term, i);
}

}  // namespace kestrel
