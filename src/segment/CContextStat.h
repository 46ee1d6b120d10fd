#pragma once
// Tag-transition statistics of a hidden-Markov tagger: how often each tag
// occurs and how often one tag follows another. Loaded from a .ctx file.
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Status.h"

namespace kestrel {

class CContextStat {
public:
    CContextStat() : m_floorCost(-std::log(0.000001)) {}

    struct Table {
        int32_t key = 0;
        int32_t totalFrequency = 0;
        std::vector<int32_t> tagFrequency;  // n values, symbol order
        std::vector<int32_t> context;       // n x n, row = previous tag
    };

    // Fails when the file cannot be read or is damaged (with a message
    // naming the file); the statistics are empty then. Previous content is
    // freed first.
    Status load(const std::string& path);
    Status loadFromBytes(std::string_view bytes, const std::string& name);
    Status save(const std::string& path) const;
    std::string serialize() const;
    void release();

    // Replaces the content (for tools and tests). Symbols must ascend; every
    // table must have n tag frequencies and n x n context counts.
    bool setData(std::vector<int32_t> symbols, std::vector<Table> tables);

    // Smoothed probability that `current` follows `previous`; 1e-6 for an
    // unseen pair, an unknown tag or empty statistics.
    double getContextProbability(int current, int previous) const;
    // Frequency of the tag in the first table, 0 when unknown.
    int getTagFrequency(int tag) const;

    // Index of a tag in the symbol table, -1 when unknown.
    int indexOf(int tag) const;
    // -ln getContextProbability by symbol indices (-1 allowed), from a table
    // computed once at load time.
    double transitionCost(int currentIndex, int previousIndex) const {
        if (currentIndex < 0 || previousIndex < 0 || m_costs.empty()) return m_floorCost;
        return m_costs[static_cast<size_t>(previousIndex) * m_symbols.size() + static_cast<size_t>(currentIndex)];
    }

    bool isLoaded() const { return !m_tables.empty(); }
    const std::vector<int32_t>& symbols() const { return m_symbols; }
    const std::vector<Table>& tables() const { return m_tables; }

private:
    double probabilityByIndex(int c, int p) const;
    void computeCosts();

    std::vector<int32_t> m_symbols;
    std::vector<Table> m_tables;
    std::vector<double> m_costs;  // n x n, row = previous tag
    double m_floorCost;
};

}  // namespace kestrel
