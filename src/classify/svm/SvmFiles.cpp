// Vector files of the SVM engine: the line syntax of sparse vectors.
#include <algorithm>
#include <charconv>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

#include "classify/svm/CSVM.h"
#include "classify/svm/SvmKernel.h"
#include "common/FileSystem.h"
#include "common/NumberFormat.h"
#include "features/VectorFile.h"

namespace kestrel {

SvmFileSize CSVM::scanFileSize(FILE* file) {
    SvmFileSize size;
    if (!file) return size;
    int64_t length = 0, spaces = 0;
    char buffer[1 << 16];
    size_t got;
    char previous = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        for (size_t i = 0; i < got; ++i) {
            const char c = buffer[i];
            const bool endsLine = c == '\r' || (c == '\n' && previous != '\r');
            previous = c;
            if (c == '\n' && !endsLine) continue;  // the LF of a CR LF
            ++length;
            if (c == ' ') ++spaces;
            if (endsLine) {
                ++size.lines;
                if (length > size.longestLine) size.longestLine = length;
                if (spaces > size.maxSpaces) size.maxSpaces = spaces;
                length = spaces = 0;
            }
        }
    }
    std::fclose(file);
    return size;
}

bool CSVM::parseDocumentLine(std::string_view line, SvmDoc& doc, long& label, int64_t maxWords,
                             std::string* reason) {
    return parseVectorLine(line, doc, label, maxWords, reason);
}

Status CSVM::readDocuments(const std::string& path, std::vector<SvmDoc>& docs,
                           std::vector<int32_t>& labels, int64_t maxWords, long k, int32_t& totWords,
                           SvmReadReport* report) {
    Result<VectorSet> set = readVectorFile(path, RejectedLines::kSkip, maxWords);
    if (!set) return set.status();
    docs = std::move(set->docs);
    totWords = set->highestFeature;
    if (report) *report = std::move(set->report);
    const std::vector<long>& written = set->labels;
    labels.resize(written.size());
    for (size_t i = 0; i < written.size(); ++i)
        labels[i] = written[i] == 0 ? 0 : (written[i] == k ? 1 : -1);
    return Status();
}

}  // namespace kestrel
