#pragma once
// The small inline markup of the step buttons' tooltips, parsed without Qt:
//   <b> </b>        bold on / off
//   <br>            line break
//   <ct=0x00BBGGRR> text colour (a Windows colour value, red in the low byte)
//                   until </ct>
//   <al_c>          centre the current line
//   <hr=100%>       horizontal rule across that share of the tip's width
//                   (<hr=N> without '%': N pixels; <hr>: full width)
// Anything else between '<' and '>' is shown as it is written.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

struct MarkupItem {
    enum Kind { Text, Rule } kind = Text;
    std::string text;          // Text: UTF-8
    bool bold = false;
    bool coloured = false;     // false: the tip's default colour
    uint32_t rgb = 0;          // 0xRRGGBB when coloured
    int ruleWidth = 100;       // Rule: width
    bool rulePercent = true;   // Rule: width is a percentage of the tip
};

struct MarkupLine {
    bool centred = false;
    std::vector<MarkupItem> items;
};

// Splits the markup into lines of text runs and rules. Adjacent text with
// the same style is merged into one run.
std::vector<MarkupLine> parseTooltipMarkup(std::string_view markup);

// 0x00BBGGRR (Windows order) to 0xRRGGBB.
uint32_t windowsColourToRgb(uint32_t colorref);

// The markup as Qt rich text (HTML subset) for a tooltip.
std::string tooltipMarkupToHtml(std::string_view markup);

}  // namespace kestrel
