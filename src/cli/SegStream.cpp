#include "cli/SegStream.h"

#include <sys/types.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "cli/RecordReader.h"
#include "common/Encoding.h"
#include "common/FileSystem.h"
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

bool encodedAs(std::string_view bytes, StreamEncoding encoding) {
    return encoding == StreamEncoding::kUtf8 ? isValidUtf8(bytes) : isValidGb18030(bytes);
}

const char* encodingName(StreamEncoding encoding) {
    return encoding == StreamEncoding::kUtf8 ? "UTF-8" : "GB18030";
}

}  // namespace

std::string shownId(std::string_view id, StreamEncoding encoding) {
    return encoding == StreamEncoding::kUtf8 ? displayPath(id) : displayPath(gbkToUtf8(id));
}

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

namespace {

void segmentLine(SegmenterPool& workers, StreamEncoding encoding, const TermOptions& terms, StreamLine& line) {
    std::string_view id, text;
    if (!splitRecord(line.text, encoding, id, text, line.message)) {
        line.refused = true;
        return;
    }
    if (text.empty()) line.message = "warning: document " + shownId(id, encoding) + " has no text";
    try {
        auto worker = workers.take();
        WordCounts counted;
        TermGenerator(terms, *worker)
            .countTerms(encoding == StreamEncoding::kUtf8 ? utf8ToGbk(text) : std::string(text), counted);
        std::string counts;
        counted.appendEntries(counts, ' ');
        if (!counts.empty()) counts.pop_back();
        line.output.assign(id);
        line.output += '\t';
        line.output += encoding == StreamEncoding::kUtf8 ? gbkToUtf8(counts) : counts;
        line.output += '\n';
    } catch (const std::bad_alloc&) {
        std::string().swap(line.output);
        line.message = "not enough memory to segment document " + shownId(id, encoding) + ", left out";
        line.refused = true;
    }
    std::string().swap(line.text);
}

// Reads the next batch of lines; false when the input ended or failed.
bool readBatch(RecordReader& reader, std::vector<StreamLine>& batch) {
    size_t bytes = 0;
    std::string text;
    while (batch.size() < kBatchRecords && bytes < kBatchBytes) {
        const RecordReader::Outcome outcome = reader.next(text);
        if (outcome == RecordReader::Outcome::kEnd || outcome == RecordReader::Outcome::kError) return false;
        StreamLine& line = batch.emplace_back();
        line.number = reader.lineNumber();
        if (outcome == RecordReader::Outcome::kTooLong) {
            line.refused = true;
            line.message = "a record longer than " + std::to_string(reader.maxBytes() >> 20) + " MB, left out";
            continue;
        }
        bytes += text.size();
        line.text = std::move(text);
    }
    return true;
}

void reportLine(std::FILE* messages, const StreamLine& line) {
    if (line.message.empty()) return;
    std::fprintf(messages, "kestrel segment: line %zu: %s\n", line.number, line.message.c_str());
}

}  // namespace

int segmentStream(const CWordSegment& segmenter, StreamEncoding encoding, unsigned threads, std::FILE* in,
                  const std::string& inputName, std::FILE* out, std::FILE* messages,
                  const TermOptions& terms) {
    int status = 0;
    bool more = true;
    std::vector<StreamLine> batch;
    RecordReader reader(in, inputName);
    SegmenterPool workers(segmenter);
    while (more) {
        batch.clear();
        more = readBatch(reader, batch);
        parallelFor(batch.size(), threads, [&](size_t i) {
            if (!batch[i].refused) segmentLine(workers, encoding, terms, batch[i]);
        });
        for (const StreamLine& line : batch) {
            reportLine(messages, line);
            if (line.refused) status = 1;
            else if (std::fwrite(line.output.data(), 1, line.output.size(), out) != line.output.size()) more = false;
        }
    }
    if (!reader.error().empty()) {
        std::fprintf(messages, "kestrel segment: %s\n", reader.error().c_str());
        status = 1;
    }
    if (std::fflush(out) != 0 || std::ferror(out)) {
        std::fprintf(messages, "kestrel segment: cannot write the output\n");
        status = 1;
    }
    return status;
}

}  // namespace kestrel
