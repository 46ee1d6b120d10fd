#include "features/SegmentedCorpus.h"

#include <cstdint>
#include <limits>
#include <unordered_map>

#include "common/Encoding.h"
#include "common/FileSystem.h"

namespace kestrel {

bool readSegFile(const std::string& path, std::vector<SegLine>& lines, std::string* error, std::string* warning) {
    lines.clear();
    const Result<std::string> raw = readFile(path);
    if (!raw) {
        if (error) *error = raw.message();
        return false;
    }
    DecodeReport report;
    const std::string text = decodeText(*raw, &report);
    if (report.encoding == TextEncoding::kBinary) {
        if (error) *error = decodeWarning(path, report);
        return false;
    }
    if (warning) *warning = decodeWarning(path, report);
    std::unordered_map<std::string_view, size_t> position;
    forEachLine(text, [&](std::string_view line) {
        if (line.empty()) return;
        const size_t colon = line.find(':');
        SegLine l;
        if (colon == std::string_view::npos) {
            l.term = std::string(line);
        } else {
            l.term = std::string(line.substr(0, colon));
            l.count = leadingInteger(line.substr(colon + 1));
        }
        lines.push_back(std::move(l));
    });
    // Preprocessing writes every term once; only a .seg file made elsewhere
    // repeats one, and its lines are merged.
    position.reserve(lines.size());
    size_t kept = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const auto [it, inserted] = position.emplace(lines[i].term, kept);
        if (!inserted) {
            // Counts of a file made elsewhere can be anything: the sum stops
            // at the ends of the range rather than wrapping round.
            int64_t& count = lines[it->second].count;
            if (__builtin_add_overflow(count, lines[i].count, &count))
                count = lines[i].count > 0 ? INT64_MAX : INT64_MIN;
            continue;
        }
        if (kept != i) {
            lines[kept] = std::move(lines[i]);
            // The key viewed the moved-from string; view the kept one.
            position.erase(it);
            position.emplace(lines[kept].term, kept);
        }
        ++kept;
    }
    lines.resize(kept);
    return true;
}

int64_t leadingInteger(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                               text[i] == '\v' || text[i] == '\f'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max() / 10 - 10;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < kMax) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

std::vector<CorpusDocument> listTrainingDocuments(const std::string& corpusPath, const CategoryTable& categories,
                                                  std::vector<std::string>* warnings) {
    std::vector<CorpusDocument> docs;
    for (uint32_t c = 0; c < categories.size(); ++c) {
        const std::string dir = withTrailingSlash(corpusPath + categories[c].name);
        const auto names = listFiles(dir, ".seg");
        if (!names && warnings) warnings->push_back(names.message());
        for (const auto& name : names.valueOr({})) docs.push_back({c, dir + name});
    }
    return docs;
}

}  // namespace kestrel
