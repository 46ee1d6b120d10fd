#pragma once
// Columns of text in a terminal: Chinese characters take two columns, so
// tables that mix them with latin text are padded by display width, not by
// bytes.
#include <string>

namespace kestrel {

// Display width of UTF-8 text: one column per code point, two for the wide
// (CJK) ones, i.e. those of three or more bytes.
size_t displayWidth(const std::string& text);

// The text followed (padRight) or preceded (padLeft) by blanks up to `width`
// columns; text already as wide is returned as it is.
std::string padRight(const std::string& text, size_t width);
std::string padLeft(const std::string& text, size_t width);

}  // namespace kestrel
