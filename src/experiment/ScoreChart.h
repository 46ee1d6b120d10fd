#pragma once
// The experiment's chart: micro and macro F1 of every combination as bars
// with their standard deviation, drawn on a pixel buffer and written as a
// PNG file, so that the command line can produce it without a window system.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrel {

struct ChartEntry {
    std::string label;  // ASCII; shown in the legend below the bars
    double microF1 = 0, microDeviation = 0;  // percent
    double macroF1 = 0, macroDeviation = 0;
};

// An RGB image.
class PixelImage {
public:
    PixelImage(uint32_t width, uint32_t height, uint32_t background);
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t pixel(uint32_t x, uint32_t y) const;  // 0xRRGGBB
    // Fills the rectangle [x0, x1) x [y0, y1), clipped to the image.
    void fill(int64_t x0, int64_t y0, int64_t x1, int64_t y1, uint32_t color);
    // Draws text in a 5x7 pixel font magnified `scale` times, top-left at
    // (x, y). Lower-case letters are drawn as capitals; characters the font
    // lacks as '?'. Returns the x after the text.
    int64_t text(int64_t x, int64_t y, const std::string& text, uint32_t color, int scale = 2);
    static int64_t textWidth(const std::string& text, int scale = 2);
    // The image as a PNG file (8-bit RGB).
    std::string png() const;

private:
    uint32_t width_, height_;
    std::vector<uint8_t> rgb_;
};

// The chart of the entries, in their order, with a title.
PixelImage drawScoreChart(const std::vector<ChartEntry>& entries, const std::string& title);

}  // namespace kestrel
