#include "cli/SegStream.h"

#include <sys/types.h>

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "cli/OptionParser.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
#include "segment/SegCorpusWriter.h"
#include "segment/SegmenterPool.h"
#include "common/ParallelFor.h"
#include "segment/WordCounts.h"
#include "terms/TermGenerator.h"

namespace kestrel {

namespace {

// Records are segmented this many at a time (or fewer when they are long),
// which bounds the memory a stream of any length needs.
constexpr size_t kBatchRecords = 512;
constexpr size_t kBatchBytes = 16u << 20;

// One line of input and what became of it.
struct StreamLine {
    size_t number = 0;
    std::string text;
    std::string output;   // the line to write; empty when the line is refused
    std::string message;  // why it was refused, or a warning
    bool refused = false;
};

// Reads the lines of a stream without their line ends ("\n" or "\r\n"),
// NUL bytes included, however long they are.
class LineReader {
public:
    explicit LineReader(std::FILE* in) : in_(in) {}
    ~LineReader() { std::free(buffer_); }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // False at the end of the input (or when it cannot be read).
    bool next(std::string& line) {
        const ssize_t n = getline(&buffer_, &capacity_, in_);
        if (n < 0) return false;
        size_t length = static_cast<size_t>(n);
        if (length > 0 && buffer_[length - 1] == '\n') --length;
        if (length > 0 && buffer_[length - 1] == '\r') --length;
        line.assign(buffer_, length);
        return true;
    }

private:
    std::FILE* in_;
    char* buffer_ = nullptr;
    size_t capacity_ = 0;
};

bool encodedAs(std::string_view bytes, StreamEncoding encoding) {
    return encoding == StreamEncoding::kUtf8 ? isValidUtf8(bytes) : isValidGb18030(bytes);
}

const char* encodingName(StreamEncoding encoding) {
    return encoding == StreamEncoding::kUtf8 ? "UTF-8" : "GB18030";
}

// A record's id for a message, in UTF-8.
std::string shownId(std::string_view id, StreamEncoding encoding) {
    return encoding == StreamEncoding::kUtf8 ? displayPath(id) : displayPath(gbkToUtf8(id));
}

// The id and the rest of a record line; false with the reason when the line
// is no record.
bool splitRecord(std::string_view line, StreamEncoding encoding, std::string_view& id, std::string_view& rest,
                 std::string& why) {
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) {
        why = line.empty() ? "an empty line, not a record \"id<TAB>...\""
                           : "no TAB between the document id and the rest of the record";
        return false;
    }
    id = line.substr(0, tab);
    rest = line.substr(tab + 1);
    if (id.empty()) {
        why = "the document id before the TAB is empty";
        return false;
    }
    if (!encodedAs(line, encoding)) {
        why = "the record of document " + shownId(id, encoding) + " is not valid " + encodingName(encoding) +
              " (see --encoding)";
        return false;
    }
    return true;
}

void segmentLine(SegmenterPool& workers, StreamEncoding encoding, const TermOptions& terms, StreamLine& line) {
    std::string_view id, text;
    if (!splitRecord(line.text, encoding, id, text, line.message)) {
        line.refused = true;
        return;
    }
    if (text.empty()) line.message = "warning: document " + shownId(id, encoding) + " has no text";
    auto worker = workers.take();
    WordCounts counted;
    TermGenerator(terms, *worker).countTerms(encoding == StreamEncoding::kUtf8 ? utf8ToGbk(text) : std::string(text),
                                             counted);
    std::string counts;
    counted.appendEntries(counts, ' ');
    if (!counts.empty()) counts.pop_back();
    line.output.assign(id);
    line.output += '\t';
    line.output += encoding == StreamEncoding::kUtf8 ? gbkToUtf8(counts) : counts;
    line.output += '\n';
    line.text.clear();
    line.text.shrink_to_fit();
}

void reportLine(const char* command, const StreamLine& line) {
    if (line.message.empty()) return;
    std::fprintf(stderr, "kestrel %s: line %zu: %s\n", command, line.number, line.message.c_str());
}

}  // namespace

int segmentStream(const CWordSegment& segmenter, StreamEncoding encoding, unsigned threads, std::FILE* in,
                  std::FILE* out, const TermOptions& terms) {
    int status = 0;
    size_t number = 0;
    bool more = true;
    std::vector<StreamLine> batch;
    LineReader reader(in);
    SegmenterPool workers(segmenter);
    while (more) {
        batch.clear();
        size_t bytes = 0;
        std::string text;
        while (batch.size() < kBatchRecords && bytes < kBatchBytes && (more = reader.next(text))) {
            bytes += text.size();
            batch.push_back({++number, std::move(text), {}, {}, false});
        }
        parallelFor(batch.size(), threads, [&](size_t i) { segmentLine(workers, encoding, terms, batch[i]); });
        for (const StreamLine& line : batch) {
            reportLine("segment", line);
            if (line.refused) status = 1;
            else if (std::fwrite(line.output.data(), 1, line.output.size(), out) != line.output.size()) more = false;
        }
    }
    if (std::ferror(in)) {
        std::fprintf(stderr, "kestrel segment: cannot read standard input\n");
        status = 1;
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(stderr, "kestrel segment: cannot write the output\n");
        status = 1;
    }
    return status;
}

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

void unpackError(const std::string& message) {
    std::fprintf(stderr, "kestrel unpack-seg: %s\n", message.c_str());
}

constexpr const char* kUnpackDescription =
    "Turns segmented records \"id<TAB>word:count word:count ...\" (the output of\n"
    "kestrel segment --seg) into .seg files that kestrel train --format seg and\n"
    "kestrel classify --format seg read. A record whose id is \"category/title\"\n"
    "becomes DIR/category/title.seg, one whose id is \"title\" DIR/title.seg.\n"
    "Files are written in the workspace encoding (GB18030). A line that is no\n"
    "such record, or an id seen before, is reported with its line number and\n"
    "written nowhere; the exit status is then 1.\n";

}  // namespace

namespace {

// Writes the ".seg" files of segmented records below one directory, each id
// at most once.
class SegUnpacker {
public:
    SegUnpacker(std::string dir, StreamEncoding encoding) : writer_(std::move(dir)), encoding_(encoding) {}

    const SegCorpusWriter& writer() const { return writer_; }

    // Writes the file of one record; `where` names its line for a later
    // record with the same id.
    Status unpack(std::string_view line, const std::string& where) {
        std::string_view id, counts;
        std::string content, why;
        if (!splitRecord(line, encoding_, id, counts, why) || !segContent(counts, encoding_, content, why))
            return Status::failure(why);
        return writer_.write(id, shownId(id, encoding_), content, where);
    }

private:
    SegCorpusWriter writer_;
    StreamEncoding encoding_;
};

}  // namespace

int runUnpackSeg(int argc, char** argv) {
    std::string dir;
    std::string encodingName = "utf8";
    std::vector<std::string> files;
    cli::OptionParser parser("unpack-seg", kUnpackDescription);
    parser.app().add_option("--to", dir, "the directory the .seg files are written below (created when missing)")
        ->required()
        ->option_text("DIR");
    cli::addEncodingOption(parser.app(), encodingName, "the encoding of the records: utf8 (default) or gbk");
    parser.app()
        .add_option("FILE", files, "files of segmented records; standard input when none (or -)")
        ->option_text("FILE...");
    if (const int exit = parser.parse(argc, argv); exit >= 0) return exit;

    if (files.empty()) files.push_back("-");
    SegUnpacker unpacker(dir, cli::streamEncoding(encodingName));
    if (const Status created = unpacker.writer().create(); !created) {
        unpackError(created.message());
        return 1;
    }
    int status = 0;
    size_t written = 0;
    std::string line;
    for (const std::string& file : files) {
        std::FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
        if (!in) {
            unpackError("cannot open " + displayPath(file));
            status = 1;
            continue;
        }
        const std::string source = file == "-" ? std::string() : displayPath(file) + ": ";
        LineReader reader(in);
        for (size_t number = 1; reader.next(line); ++number) {
            const std::string where = source + "line " + std::to_string(number);
            if (const Status unpacked = unpacker.unpack(line, where); !unpacked) {
                unpackError(where + ": " + unpacked.message());
                status = 1;
            } else {
                ++written;
            }
        }
        if (std::ferror(in)) {
            unpackError("cannot read " + (file == "-" ? std::string("standard input") : displayPath(file)));
            status = 1;
        }
        if (in != stdin) std::fclose(in);
    }
    std::fprintf(stderr, "unpack-seg: %zu %s written below %s\n", written, written == 1 ? "document" : "documents",
                 displayPath(unpacker.writer().directory()).c_str());
    return status;
}

}  // namespace kestrel
