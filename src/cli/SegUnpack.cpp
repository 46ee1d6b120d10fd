#include "cli/SegUnpack.h"

#include <charconv>
#include <cstdint>
#include <new>

#include "cli/RecordReader.h"
#include "common/Encoding.h"

namespace kestrel {

namespace {

// The ".seg" content of the "word:count word:count ..." part of a record.
bool segContent(std::string_view counts, StreamEncoding encoding, std::string& content, std::string& why) {
    content.clear();
    size_t start = 0;
    while (start < counts.size()) {
        size_t end = counts.find(' ', start);
        if (end == std::string_view::npos) end = counts.size();
        const std::string_view entry = counts.substr(start, end - start);
        const size_t colon = entry.rfind(':');
        const std::string_view count = colon == std::string_view::npos ? std::string_view() : entry.substr(colon + 1);
        uint32_t value = 0;
        const auto [last, problem] = std::from_chars(count.data(), count.data() + count.size(), value);
        const bool number = !count.empty() && problem == std::errc() && last == count.data() + count.size() && value > 0;
        if (colon == 0 || !number) {
            why = "\"" + (encoding == StreamEncoding::kUtf8 ? displayPath(entry) : displayPath(gbkToUtf8(entry))) +
                  "\" is not an entry word:count with a count of at least 1";
            return false;
        }
        const std::string_view word = entry.substr(0, colon);
        content += encoding == StreamEncoding::kUtf8 ? utf8ToGbk(word) : std::string(word);
        content += ':';
        content += std::to_string(value);
        content += '\n';
        start = end + 1;
    }
    return true;
}

}  // namespace

Status SegUnpacker::unpack(std::string_view line, const std::string& where) {
    std::string_view id, counts;
    std::string content, why;
    if (!splitRecord(line, encoding_, id, counts, why)) return Status::failure(why);
    // A bad id is reported before bad counts.
    if (Status fine = SegCorpusWriter::checkId(id); !fine) return fine;
    if (!segContent(counts, encoding_, content, why)) return Status::failure(why);
    const Status saved = writer_.write(id, shownId(id, encoding_), content, where);
    if (saved) ++written_;
    return saved;
}

bool unpackRecords(SegUnpacker& unpacker, std::FILE* in, const std::string& inputName, const std::string& source,
                   std::FILE* messages) {
    const auto report = [messages](const std::string& message) {
        std::fprintf(messages, "kestrel unpack-seg: %s\n", message.c_str());
    };
    RecordReader reader(in, inputName);
    bool ok = true;
    std::string line;
    for (;;) {
        const RecordReader::Outcome outcome = reader.next(line);
        if (outcome == RecordReader::Outcome::kEnd) break;
        if (outcome == RecordReader::Outcome::kError) {
            report(reader.error());
            return false;
        }
        const std::string where = source + "line " + std::to_string(reader.lineNumber());
        Status unpacked;
        if (outcome == RecordReader::Outcome::kTooLong) {
            unpacked = Status::failure("a record longer than " + std::to_string(reader.maxBytes() >> 20) +
                                       " MB, written nowhere");
        } else if (reader.unterminated()) {
            unpacked = Status::failure("the last record has no newline: it was cut off, and is written nowhere");
        } else {
            try {
                unpacked = unpacker.unpack(line, where);
            } catch (const std::bad_alloc&) {
                unpacked = Status::failure("not enough memory for this record, written nowhere");
            }
        }
        if (!unpacked) {
            report(where + ": " + unpacked.message());
            ok = false;
        }
    }
    return ok;
}

}  // namespace kestrel
