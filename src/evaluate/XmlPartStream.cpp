#include "evaluate/XmlPartStream.h"

#include <expat.h>
#include <unzip.h>

#include <memory>

namespace kestrel {

namespace {

std::string_view localName(std::string_view name) {
    const size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

struct ParserFree {
    void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

// The parser's state between its callbacks.
class PartParser {
public:
    explicit PartParser(XmlPartHandler& handler) : handler_(handler), parser_(XML_ParserCreate(nullptr)) {
        XML_SetUserData(parser_.get(), this);
        XML_SetElementHandler(parser_.get(), &PartParser::onStart, &PartParser::onEnd);
        XML_SetCharacterDataHandler(parser_.get(), &PartParser::onText);
        XML_SetCommentHandler(parser_.get(), [](void* self, const XML_Char*) { static_cast<PartParser*>(self)->mark(); });
        XML_SetProcessingInstructionHandler(parser_.get(), [](void* self, const XML_Char*, const XML_Char*) {
            static_cast<PartParser*>(self)->mark();
        });
        XML_SetStartDoctypeDeclHandler(parser_.get(),
                                       [](void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
                                           static_cast<PartParser*>(self)->fail(
                                               Status::failure("含有文档类型声明（DTD）"));
                                       });
    }

    bool created() const { return parser_ != nullptr; }

    // Parses the next block (`last` at the end of the member); false once
    // the part is refused.
    bool feed(const char* data, size_t size, bool last) {
        fed_ += size;
        if (XML_Parse(parser_.get(), data, static_cast<int>(size), last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
            if (status_.ok())
                status_ = Status::failure(std::string("不是有效的 XML（第 ") +
                                          std::to_string(XML_GetCurrentLineNumber(parser_.get())) + " 行：" +
                                          XML_ErrorString(XML_GetErrorCode(parser_.get())) + "）");
            return false;
        }
        // Everything after the last event is held by the parser, unparsed.
        if (fed_ - lastEvent_ > kMaxXmlTokenBytes) {
            status_ = Status::failure("含有超过 " + std::to_string(kMaxXmlTokenBytes >> 20) + " MB 的标记");
            return false;
        }
        return true;
    }

    const Status& status() const { return status_; }

private:
    void mark() { lastEvent_ = static_cast<uint64_t>(XML_GetCurrentByteIndex(parser_.get())); }

    void fail(Status status) {
        if (status_.ok()) status_ = std::move(status);
        XML_StopParser(parser_.get(), XML_FALSE);
    }

    void check(Status status) {
        if (!status.ok()) fail(std::move(status));
    }

    static void onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
        auto* self = static_cast<PartParser*>(data);
        self->mark();
        if (++self->depth_ > kMaxXmlDepth) {
            self->fail(Status::failure("元素嵌套超过 " + std::to_string(kMaxXmlDepth) + " 层"));
            return;
        }
        self->check(self->handler_.startElement(localName(name), self->depth_, attributes));
    }

    static void onEnd(void* data, const XML_Char* name) {
        auto* self = static_cast<PartParser*>(data);
        self->mark();
        self->check(self->handler_.endElement(localName(name), self->depth_));
        --self->depth_;
    }

    static void onText(void* data, const XML_Char* text, int length) {
        auto* self = static_cast<PartParser*>(data);
        self->mark();
        self->check(self->handler_.text(std::string_view(text, static_cast<size_t>(length))));
    }

    XmlPartHandler& handler_;
    std::unique_ptr<XML_ParserStruct, ParserFree> parser_;
    Status status_;
    size_t depth_ = 0;
    uint64_t fed_ = 0;
    uint64_t lastEvent_ = 0;
};

}  // namespace

std::string_view xmlAttribute(const char** attributes, std::string_view name, bool anyPrefix) {
    for (const char** a = attributes; a && a[0]; a += 2) {
        const std::string_view found = a[0];
        if (found == name || (anyPrefix && found.find(':') != std::string_view::npos && localName(found) == name))
            return a[1];
    }
    return {};
}

Status streamXmlPart(void* zipHandle, const std::string& member, XmlPartHandler& handler, bool* found) {
    const unzFile zip = zipHandle;
    if (found) *found = false;
    if (unzLocateFile(zip, member.c_str(), 1) != UNZ_OK) return Status::failure("缺少 " + member);
    if (unzOpenCurrentFile(zip) != UNZ_OK) return Status::failure("无法读取 " + member);
    if (found) *found = true;
    PartParser parser(handler);
    if (!parser.created()) {
        unzCloseCurrentFile(zip);
        return Status::failure("内存不足，无法读取 " + member);
    }
    char buffer[65536];
    uint64_t total = 0;
    bool parsing = true;
    Status read;
    while (parsing) {
        const int n = unzReadCurrentFile(zip, buffer, sizeof buffer);
        if (n < 0) {
            read = Status::failure("无法解压 " + member);
            break;
        }
        total += static_cast<uint64_t>(n);
        if (total > kMaxXmlPartBytes) {
            read = Status::failure(member + " 超过 " + std::to_string(kMaxXmlPartBytes >> 20) + " MB");
            break;
        }
        parsing = parser.feed(buffer, static_cast<size_t>(n), n == 0) && n > 0;
    }
    // Closing checks the CRC of a member read to its end.
    const bool closed = unzCloseCurrentFile(zip) == UNZ_OK;
    if (!read.ok()) return read;
    if (!parser.status().ok()) return parser.status().withContext(member + " ");
    if (!closed) return Status::failure(member + " 的校验和不符");
    return Status::success();
}

}  // namespace kestrel
