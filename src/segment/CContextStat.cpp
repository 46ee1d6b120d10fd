#include "segment/CContextStat.h"

#include <algorithm>
#include <cmath>

#include "common/FileSystem.h"
#include "common/LittleEndian.h"

namespace kestrel {

namespace {

constexpr double kFloor = 0.000001;

}  // namespace

void CContextStat::release() {
    m_symbols.clear();
    m_tables.clear();
    m_costs.clear();
}

void CContextStat::computeCosts() {
    m_costs.clear();
    const size_t n = m_symbols.size();
    if (m_tables.empty() || n == 0) return;
    m_costs.resize(n * n);
    for (size_t p = 0; p < n; ++p) {
        for (size_t c = 0; c < n; ++c)
            m_costs[p * n + c] = -std::log(probabilityByIndex(static_cast<int>(c), static_cast<int>(p)));
    }
}

Status CContextStat::load(const std::string& path) {
    const Result<std::string> bytes = readFile(path);
    if (!bytes) {
        const std::string& readError = bytes.message();
        release();
        return Status::failure(readError.empty() ? "cannot read statistics file " + path : readError);
    }
    return loadFromBytes(*bytes, path);
}

Status CContextStat::loadFromBytes(std::string_view bytes, const std::string& name) {
    release();
    size_t pos = 0;
    auto fail = [&](const std::string& what) {
        release();
        return Status::failure("statistics file " + name + " is damaged: " + what);
    };
    int32_t n = 0;
    if (!readInt32(bytes, pos, n)) return fail("it has no symbol count");
    if (n < 0) return fail("negative symbol count " + std::to_string(n));
    if (static_cast<uint64_t>(n) * 4 > bytes.size() - pos)
        return fail("symbol count " + std::to_string(n) + " exceeds the file size");
    std::vector<int32_t> symbols(static_cast<size_t>(n));
    for (auto& symbol : symbols) readInt32(bytes, pos, symbol);
    for (size_t i = 1; i < symbols.size(); ++i) {
        if (symbols[i - 1] >= symbols[i]) return fail("the symbol table is not in ascending order");
    }
    const uint64_t cells = static_cast<uint64_t>(n) * static_cast<uint64_t>(n);
    const uint64_t tableBytes = (2 + static_cast<uint64_t>(n) + cells) * 4;
    std::vector<Table> tables;
    while (pos < bytes.size()) {
        if (tableBytes > bytes.size() - pos)
            return fail("file ends inside context table " + std::to_string(tables.size() + 1));
        Table table;
        readInt32(bytes, pos, table.key);
        readInt32(bytes, pos, table.totalFrequency);
        table.tagFrequency.resize(static_cast<size_t>(n));
        for (auto& f : table.tagFrequency) readInt32(bytes, pos, f);
        table.context.resize(static_cast<size_t>(cells));
        for (auto& c : table.context) readInt32(bytes, pos, c);
        tables.push_back(std::move(table));
    }
    m_symbols = std::move(symbols);
    m_tables = std::move(tables);
    computeCosts();
    return Status::success();
}

bool CContextStat::setData(std::vector<int32_t> symbols, std::vector<Table> tables) {
    for (size_t i = 1; i < symbols.size(); ++i) {
        if (symbols[i - 1] >= symbols[i]) return false;
    }
    const size_t n = symbols.size();
    for (const Table& t : tables) {
        if (t.tagFrequency.size() != n || t.context.size() != n * n) return false;
    }
    m_symbols = std::move(symbols);
    m_tables = std::move(tables);
    computeCosts();
    return true;
}

std::string CContextStat::serialize() const {
    std::string out;
    appendInt32(out, static_cast<int32_t>(m_symbols.size()));
    for (int32_t s : m_symbols) appendInt32(out, s);
    for (const Table& t : m_tables) {
        appendInt32(out, t.key);
        appendInt32(out, t.totalFrequency);
        for (int32_t f : t.tagFrequency) appendInt32(out, f);
        for (int32_t c : t.context) appendInt32(out, c);
    }
    return out;
}

Status CContextStat::save(const std::string& path) const {
    const Status written = writeFileAtomically(path, serialize());
    if (!written)
        return Status::failure(written.message().empty() ? "cannot write statistics file " + path : written.message());
    return Status::success();
}

int CContextStat::indexOf(int tag) const {
    int lo = 0;
    int hi = static_cast<int>(m_symbols.size()) - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int32_t s = m_symbols[static_cast<size_t>(mid)];
        if (s == tag) return mid;
        if (s < tag)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return -1;
}

double CContextStat::getContextProbability(int current, int previous) const {
    return probabilityByIndex(indexOf(current), indexOf(previous));
}

double CContextStat::probabilityByIndex(int c, int p) const {
    if (m_tables.empty()) return kFloor;
    if (p < 0 || c < 0) return kFloor;
    const Table& t = m_tables.front();
    const size_t n = m_symbols.size();
    const int32_t f = t.tagFrequency[static_cast<size_t>(p)];
    if (f == 0) return kFloor;
    const int32_t k = t.context[static_cast<size_t>(p) * n + static_cast<size_t>(c)];
    if (k == 0) return kFloor;
    // Damaged counts (a zero total, negative numbers) must not yield an
    // infinite or negative probability: the caller takes its logarithm.
    const double first = t.totalFrequency > 0 ? 0.1 * f / t.totalFrequency : 0.0;
    const double probability = first + 0.9 * k / f;
    return probability > 0 ? probability : kFloor;
}

int CContextStat::getTagFrequency(int tag) const {
    if (m_tables.empty()) return 0;
    const int i = indexOf(tag);
    return i < 0 ? 0 : m_tables.front().tagFrequency[static_cast<size_t>(i)];
}

}  // namespace kestrel
