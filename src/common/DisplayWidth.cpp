#include "common/DisplayWidth.h"

namespace kestrel {

size_t displayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        width += length >= 3 ? 2 : 1;
        i += length;
    }
    return width;
}

std::string padRight(const std::string& text, size_t width) {
    const size_t w = displayWidth(text);
    return text + std::string(w < width ? width - w : 0, ' ');
}

std::string padLeft(const std::string& text, size_t width) {
    const size_t w = displayWidth(text);
    return std::string(w < width ? width - w : 0, ' ') + text;
}

}  // namespace kestrel
