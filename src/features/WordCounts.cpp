#include "features/WordCounts.h"

#include <charconv>
#include <string_view>
#include <unordered_map>

namespace kestrel {

std::vector<WordCount> countWords(const std::vector<std::string>& words) {
    std::vector<WordCount> counts;
    std::unordered_map<std::string_view, size_t> position;
    for (const auto& word : words) {
        if (word.empty() || word.find_first_of(":\r\n") != std::string::npos) continue;
        auto [it, inserted] = position.emplace(word, counts.size());
        if (inserted) counts.push_back({&word, 1});
        else ++counts[it->second].count;
    }
    return counts;
}

void appendWordCounts(std::string& out, const std::vector<std::string>& words, char separator) {
    for (const auto& [word, count] : countWords(words)) {
        out += *word;
        out += ':';
        char digits[16];
        const auto end = std::to_chars(digits, digits + sizeof digits, count).ptr;
        out.append(digits, end);
        out += separator;
    }
}

}  // namespace kestrel
