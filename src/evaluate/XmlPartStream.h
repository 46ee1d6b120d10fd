#pragma once
// Reads one XML member of a zip archive (a part of an .xlsx workbook) as a
// stream of element and text events, in bounded memory whatever the member
// holds: the member is inflated a block at a time and parsed as it comes, a
// single token (a tag with its attributes, a comment) larger than
// kMaxXmlTokenBytes and a nesting deeper than kMaxXmlDepth are refused, and
// document type declarations (entity definitions) are refused outright.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/Status.h"

namespace kestrel {

// Members larger than this (inflated) are not ones this program writes:
// refused rather than read for minutes.
inline constexpr uint64_t kMaxXmlPartBytes = 256ull * 1024 * 1024;
// The largest tag, comment or processing instruction held at once. Text
// is passed on in pieces and is not bounded here; a tag of a workbook is a
// few hundred bytes, and the parser scans a pending token again with every
// block that arrives, so a large bound would cost time as well as memory.
inline constexpr uint64_t kMaxXmlTokenBytes = 1024 * 1024;
// The deepest nesting of elements.
inline constexpr size_t kMaxXmlDepth = 256;

// What a reader of a part does with its events. Names are local names
// ("x:row" arrives as "row"); `depth` is 1 for the document element. A
// failure stops the reading and becomes its result.
class XmlPartHandler {
public:
    virtual ~XmlPartHandler() = default;
    // `attributes` holds name, value, name, value, ... and a null pointer.
    virtual Status startElement(std::string_view name, size_t depth, const char** attributes) = 0;
    virtual Status endElement(std::string_view name, size_t depth) = 0;
    // Character data of the innermost open element, in pieces.
    virtual Status text(std::string_view piece) = 0;
};

// The value of attribute `name` ("" when absent); with `anyPrefix` a
// prefixed name ("r:id" for "id") matches too.
std::string_view xmlAttribute(const char** attributes, std::string_view name, bool anyPrefix = false);

// Streams member `member` of the open archive `zip` (an unzFile) through
// `handler`. False with the reason when the member is missing, unreadable,
// not well-formed XML, over one of the bounds above, or when the handler
// fails; `found` tells a missing member from the others.
Status streamXmlPart(void* zip, const std::string& member, XmlPartHandler& handler, bool* found = nullptr);

}  // namespace kestrel
