#include "terms/TermOptions.h"

#include <charconv>

namespace kestrel {

namespace {

constexpr std::string_view kRecordLabel = " # Terms";
constexpr std::string_view kExpected = "expected words, chars:N-M or pairs, separated by commas";

std::string_view trimmed(std::string_view s) {
    const size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) return {};
    const size_t end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

// A length of an n-gram: decimal digits only.
bool readLength(std::string_view text, int& value) {
    if (text.empty() || text.size() > 3) return false;
    const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
    return problem == std::errc() && end == text.data() + text.size();
}

Status readCharacters(std::string_view item, TermOptions& options) {
    const std::string quoted = "\"" + std::string(item) + "\"";
    const std::string_view range = item.substr(item.find(':') + 1);
    const size_t dash = range.find('-');
    int low = 0, high = 0;
    const bool read = dash == std::string_view::npos
                          ? readLength(range, low) && (high = low, true)
                          : readLength(range.substr(0, dash), low) && readLength(range.substr(dash + 1), high);
    if (!read)
        return Status::failure(quoted + ": character n-grams take a length or a range of lengths, e.g. chars:2 or "
                                        "chars:1-2");
    if (low < 1 || high > TermOptions::kMaxCharacters)
        return Status::failure(quoted + ": character n-grams are 1 to " + std::to_string(TermOptions::kMaxCharacters) +
                               " characters long");
    if (low > high)
        return Status::failure(quoted + ": the shorter length comes first (chars:" + std::to_string(high) + "-" +
                               std::to_string(low) + ")");
    options.charMin = low;
    options.charMax = high;
    return Status::success();
}

}  // namespace

Result<TermOptions> TermOptions::parse(std::string_view text) {
    TermOptions options;
    options.words = false;
    bool sawWords = false, sawCharacters = false, sawPairs = false;
    if (trimmed(text).empty()) return Status::failure("no term kind given (" + std::string(kExpected) + ")");
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) comma = text.size();
        const std::string_view item = trimmed(text.substr(start, comma - start));
        start = comma + 1;
        bool* seen = nullptr;
        if (item == "words") {
            seen = &sawWords;
            options.words = true;
        } else if (item == "pairs") {
            seen = &sawPairs;
            options.pairs = true;
        } else if (item == "chars" || item.starts_with("chars:")) {
            seen = &sawCharacters;
            if (Status read = readCharacters(item, options); !read) return read;
        } else if (item.empty()) {
            return Status::failure("an empty term kind in \"" + std::string(text) + "\" (" + std::string(kExpected) +
                                   ")");
        } else {
            return Status::failure("unknown term kind \"" + std::string(item) + "\" (" + std::string(kExpected) +
                                   ")");
        }
        if (*seen) return Status::failure("\"" + std::string(text) + "\" names a term kind twice");
        *seen = true;
    }
    return options;
}

std::string TermOptions::toString() const {
    std::string out;
    auto add = [&out](const std::string& item) {
        if (!out.empty()) out += ',';
        out += item;
    };
    if (words) add("words");
    if (characters())
        add("chars:" + std::to_string(charMin) + (charMax == charMin ? "" : "-" + std::to_string(charMax)));
    if (pairs) add("pairs");
    return out;
}

std::string TermOptions::recordLine() const { return toString() + std::string(kRecordLabel) + "\n"; }

Result<TermOptions> TermOptions::fromRecord(std::string_view content) {
    const std::string_view line = trimmed(content.substr(0, content.find('\n')));
    if (line.empty()) return TermOptions();
    const std::string_view value = line.ends_with(kRecordLabel) ? line.substr(0, line.size() - kRecordLabel.size())
                                                                : line;
    Result<TermOptions> options = parse(value);
    if (!options) return Status::failure("the term record is damaged: " + options.message());
    return options;
}

}  // namespace kestrel
