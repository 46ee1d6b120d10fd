#include "experiment/ScoreChart.h"

#include <fmt/format.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "common/FileSystem.h"

namespace kestrel {

namespace {

// 5x7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
    char ch;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {'A', {0x0E, 0x11, 0x11, 0x11, 0x1F, 0x11, 0x11}}, {'B', {0x1E, 0x11, 0x11, 0x1E, 0x11, 0x11, 0x1E}},
    {'C', {0x0E, 0x11, 0x10, 0x10, 0x10, 0x11, 0x0E}}, {'D', {0x1C, 0x12, 0x11, 0x11, 0x11, 0x12, 0x1C}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}}, {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}},
    {'G', {0x0E, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0F}}, {'H', {0x11, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}},
    {'I', {0x0E, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0E}}, {'J', {0x07, 0x02, 0x02, 0x02, 0x02, 0x12, 0x0C}},
    {'K', {0x11, 0x12, 0x14, 0x18, 0x14, 0x12, 0x11}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1F}},
    {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}}, {'N', {0x11, 0x11, 0x19, 0x15, 0x13, 0x11, 0x11}},
    {'O', {0x0E, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'P', {0x1E, 0x11, 0x11, 0x1E, 0x10, 0x10, 0x10}},
    {'Q', {0x0E, 0x11, 0x11, 0x11, 0x15, 0x12, 0x0D}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'S', {0x0F, 0x10, 0x10, 0x0E, 0x01, 0x01, 0x1E}}, {'T', {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04}},
    {'U', {0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0E}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0A, 0x04}},
    {'W', {0x11, 0x11, 0x11, 0x15, 0x15, 0x15, 0x0A}}, {'X', {0x11, 0x11, 0x0A, 0x04, 0x0A, 0x11, 0x11}},
    {'Y', {0x11, 0x11, 0x11, 0x0A, 0x04, 0x04, 0x04}}, {'Z', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x10, 0x1F}},
    {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}}, {'%', {0x18, 0x19, 0x02, 0x04, 0x08, 0x13, 0x03}},
    {'=', {0x00, 0x00, 0x1F, 0x00, 0x1F, 0x00, 0x00}}, {'-', {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'/', {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x00}},
    {'(', {0x02, 0x04, 0x08, 0x08, 0x08, 0x04, 0x02}}, {')', {0x08, 0x04, 0x02, 0x02, 0x02, 0x04, 0x08}},
    {'+', {0x00, 0x04, 0x04, 0x1F, 0x04, 0x04, 0x00}}, {',', {0x00, 0x00, 0x00, 0x00, 0x0C, 0x04, 0x08}},
    {'_', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1F}}, {'#', {0x0A, 0x0A, 0x1F, 0x0A, 0x1F, 0x0A, 0x0A}},
    {' ', {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}}, {'?', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x00, 0x04}},
};

const Glyph& glyphOf(char ch) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    for (const Glyph& g : kGlyphs)
        if (g.ch == ch) return g;
    return kGlyphs[sizeof kGlyphs / sizeof kGlyphs[0] - 1];
}

void appendBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

void appendChunk(std::string& out, const char* type, const std::string& data) {
    appendBigEndian(out, static_cast<uint32_t>(data.size()));
    const std::string body = std::string(type, 4) + data;
    out += body;
    appendBigEndian(out, static_cast<uint32_t>(
                             crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint32_t kInk = 0x202020;
constexpr uint32_t kGrid = 0xDDDDDD;
constexpr uint32_t kMicro = 0x3A6EA5;
constexpr uint32_t kMacro = 0xE08A2C;

}  // namespace

PixelImage::PixelImage(uint32_t width, uint32_t height, uint32_t background)
    : width_(width), height_(height), rgb_(static_cast<size_t>(width) * height * 3) {
    fill(0, 0, width, height, background);
}

uint32_t PixelImage::pixel(uint32_t x, uint32_t y) const {
    const size_t at = (static_cast<size_t>(y) * width_ + x) * 3;
    return (uint32_t(rgb_[at]) << 16) | (uint32_t(rgb_[at + 1]) << 8) | rgb_[at + 2];
}

void PixelImage::fill(int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t color) {
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, width_);
    y1 = std::min<int64_t>(y1, height_);
    for (int64_t y = y0; y < y1; ++y)
        for (int64_t x = x0; x < x1; ++x) {
            const size_t at = (static_cast<size_t>(y) * width_ + static_cast<size_t>(x)) * 3;
            rgb_[at] = static_cast<uint8_t>(color >> 16);
            rgb_[at + 1] = static_cast<uint8_t>(color >> 8);
            rgb_[at + 2] = static_cast<uint8_t>(color);
        }
}

int64_t PixelImage::textWidth(const std::string& text, int scale) {
    return static_cast<int64_t>(text.size()) * 6 * scale;
}

int64_t PixelImage::text(int64_t x, int64_t y, const std::string& text, uint32_t color, int scale) {
    for (const char ch : text) {
        const Glyph& g = glyphOf(ch);
        for (int row = 0; row < 7; ++row)
            for (int col = 0; col < 5; ++col)
                if (g.rows[row] & (0x10 >> col))
                    fill(x + col * scale, y + row * scale, x + (col + 1) * scale, y + (row + 1) * scale, color);
        x += 6 * scale;
    }
    return x;
}

std::string PixelImage::png() const {
    std::string raw;
    raw.reserve((static_cast<size_t>(width_) * 3 + 1) * height_);
    for (uint32_t y = 0; y < height_; ++y) {
        raw += '\0';  // filter: none
        raw.append(reinterpret_cast<const char*>(rgb_.data()) + static_cast<size_t>(y) * width_ * 3, width_ * 3);
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packedSize, '\0');
    compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
              static_cast<uLong>(raw.size()), 9);
    packed.resize(packedSize);

    std::string out("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    appendBigEndian(header, width_);
    appendBigEndian(header, height_);
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter, no interlace
    appendChunk(out, "IHDR", header);
    appendChunk(out, "IDAT", packed);
    appendChunk(out, "IEND", {});
    return out;
}

PixelImage drawScoreChart(const std::vector<ChartEntry>& entries, const std::string& title) {
    constexpr int64_t kLeft = 70, kTop = 60, kPlotHeight = 300, kGroup = 44, kBar = 16, kLegendLine = 20;
    const int64_t count = static_cast<int64_t>(entries.size());
    int64_t legendWidth = PixelImage::textWidth(title);
    for (int64_t i = 0; i < count; ++i)
        legendWidth = std::max(legendWidth, PixelImage::textWidth(std::to_string(count) + "  " +
                                                                  entries[static_cast<size_t>(i)].label));
    const int64_t width = std::max<int64_t>({kLeft + count * kGroup + 30, legendWidth + 40, 480});
    const int64_t plotBottom = kTop + kPlotHeight;
    const int64_t height = plotBottom + 40 + count * kLegendLine + 20;
    PixelImage image(static_cast<uint32_t>(width), static_cast<uint32_t>(height), kWhite);

    image.text(20, 14, title, kInk);
    const int64_t legendX = image.text(20, 36, "", kInk);
    image.fill(legendX, 36, legendX + 14, 50, kMicro);
    const int64_t afterMicro = image.text(legendX + 20, 36, "MICRO F1", kInk);
    image.fill(afterMicro + 20, 36, afterMicro + 34, 50, kMacro);
    image.text(afterMicro + 40, 36, "MACRO F1", kInk);

    auto yOf = [&](double percent) {
        const double clipped = std::clamp(std::isfinite(percent) ? percent : 0.0, 0.0, 100.0);
        return plotBottom - static_cast<int64_t>(std::lround(clipped * kPlotHeight / 100.0));
    };
    const int64_t plotRight = kLeft + std::max<int64_t>(count, 1) * kGroup + 10;
    for (int tick = 0; tick <= 100; tick += 20) {
        const int64_t y = yOf(tick);
        image.fill(kLeft, y, plotRight, y + 1, kGrid);
        const std::string label = fmt::format("{}", tick);
        image.text(kLeft - 8 - PixelImage::textWidth(label), y - 7, label, kInk);
    }
    image.fill(kLeft - 1, kTop - 5, kLeft, plotBottom + 1, kInk);
    image.fill(kLeft - 1, plotBottom, plotRight, plotBottom + 1, kInk);

    for (int64_t i = 0; i < count; ++i) {
        const ChartEntry& e = entries[static_cast<size_t>(i)];
        const int64_t x = kLeft + 8 + i * kGroup;
        const double values[2] = {e.microF1, e.macroF1};
        const double deviations[2] = {e.microDeviation, e.macroDeviation};
        const uint32_t colors[2] = {kMicro, kMacro};
        for (int b = 0; b < 2; ++b) {
            const int64_t bx = x + b * kBar;
            image.fill(bx, yOf(values[b]), bx + kBar - 2, plotBottom, colors[b]);
            if (deviations[b] > 0) {
                const int64_t top = yOf(values[b] + deviations[b]), bottom = yOf(values[b] - deviations[b]);
                const int64_t mid = bx + kBar / 2 - 1;
                image.fill(mid, top, mid + 1, bottom + 1, kInk);
                image.fill(mid - 3, top, mid + 3, top + 1, kInk);
                image.fill(mid - 3, bottom, mid + 3, bottom + 1, kInk);
            }
        }
        const std::string number = fmt::format("{}", i + 1);
        image.text(x + kBar - PixelImage::textWidth(number, 1) / 2, plotBottom + 6, number, kInk, 1);
        const std::string padding(std::to_string(count).size() - number.size(), ' ');
        image.text(20, plotBottom + 36 + i * kLegendLine, padding + number + "  " + e.label, kInk);
    }
    return image;
}

}  // namespace kestrel
