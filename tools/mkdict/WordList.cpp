#include "WordList.h"

#include <charconv>

#include "DictionaryFile.h"
#include "WordClasses.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"

namespace kestrel {

namespace {

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

}  // namespace

bool readWordList(const std::string& path, std::vector<WordListEntry>& entries, WordListStats& stats,
                  std::string& error) {
    const Result<std::string> content = readFile(path);
    if (!content) {
        error = content.message();
        return false;
    }
    std::string_view text = *content;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);

    size_t lineNo = 0;
    bool ok = true;
    forEachLine(text, [&](std::string_view line) {
        ++lineNo;
        if (!ok) return;
        const auto fail = [&](const std::string& why) {
            error = path + ":" + std::to_string(lineNo) + ": " + why;
            ok = false;
        };
        if (!isValidUtf8(line)) return fail("invalid UTF-8");
        const auto fields = splitFields(line);
        if (fields.empty()) return;
        ++stats.lines;
        if (fields.size() != 3) return fail("expected \"word frequency tag\", found " +
                                            std::to_string(fields.size()) + " field(s)");
        int64_t frequency = 0;
        const auto [end, ec] = std::from_chars(fields[1].data(), fields[1].data() + fields[1].size(), frequency);
        if (ec != std::errc() || end != fields[1].data() + fields[1].size() || frequency < 0)
            return fail("frequency \"" + std::string(fields[1]) + "\" is not a non-negative integer");
        if (packTag(fields[2]) == 0) return fail("tag \"" + std::string(fields[2]) + "\" is not made of ASCII letters");

        std::string word = utf8ToGbk(fields[0]);
        if (word.find(' ') != std::string::npos) {
            ++stats.noGbk;
            return;
        }
        int cell = 0;
        std::string key;
        if (!dictionaryCellAndKey(word, cell, key)) {
            ++stats.noCell;
            return;
        }
        if (word.size() > kMaxWordBytes) {
            ++stats.tooLong;
            return;
        }
        entries.push_back({std::move(word), frequency, std::string(fields[2])});
        ++stats.kept;
    });
    return ok;
}

}  // namespace kestrel
