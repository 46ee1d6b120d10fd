#include "widgets/TooltipMarkup.h"

#include <cctype>
#include <cstdio>

namespace kestrel {

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// Number in decimal or with a 0x prefix in hex; false when not a number or
// too large for 32 bits.
bool parseNumber(std::string_view text, uint32_t& value) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) return false;
    uint64_t v = 0;
    for (char ch : text) {
        unsigned digit;
        if (ch >= '0' && ch <= '9') digit = static_cast<unsigned>(ch - '0');
        else if (base == 16 && ch >= 'a' && ch <= 'f') digit = static_cast<unsigned>(ch - 'a' + 10);
        else if (base == 16 && ch >= 'A' && ch <= 'F') digit = static_cast<unsigned>(ch - 'A' + 10);
        else return false;
        v = v * base + digit;
        if (v > 0xFFFFFFFFull) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

class Parser {
public:
    std::vector<MarkupLine> run(std::string_view markup) {
        lines_.emplace_back();
        size_t i = 0;
        while (i < markup.size()) {
            if (markup[i] == '<') {
                const size_t close = markup.find('>', i + 1);
                if (close != std::string_view::npos && applyTag(markup.substr(i + 1, close - i - 1))) {
                    i = close + 1;
                    continue;
                }
            }
            const size_t next = markup.find('<', i + 1);
            const size_t end = next == std::string_view::npos ? markup.size() : next;
            addText(markup.substr(i, end - i));
            i = end;
        }
        return std::move(lines_);
    }

private:
    // Applies a known tag; false leaves the tag to be shown as text.
    bool applyTag(std::string_view tag) {
        if (equalsIgnoreCase(tag, "b")) { bold_ = true; return true; }
        if (equalsIgnoreCase(tag, "/b")) { bold_ = false; return true; }
        if (equalsIgnoreCase(tag, "br") || equalsIgnoreCase(tag, "br/")) { lines_.emplace_back(); return true; }
        if (equalsIgnoreCase(tag, "al_c")) { lines_.back().centred = true; return true; }
        if (equalsIgnoreCase(tag, "/al_c") || equalsIgnoreCase(tag, "/hr")) return true;
        if (equalsIgnoreCase(tag, "/ct")) { coloured_ = false; return true; }
        if (tag.size() > 3 && equalsIgnoreCase(tag.substr(0, 3), "ct=")) {
            uint32_t colour;
            if (!parseNumber(tag.substr(3), colour)) return false;
            coloured_ = true;
            rgb_ = windowsColourToRgb(colour);
            return true;
        }
        if (equalsIgnoreCase(tag, "hr")) { addRule(100, true); return true; }
        if (tag.size() > 3 && equalsIgnoreCase(tag.substr(0, 3), "hr=")) {
            std::string_view value = tag.substr(3);
            const bool percent = !value.empty() && value.back() == '%';
            if (percent) value.remove_suffix(1);
            uint32_t width;
            if (!parseNumber(value, width)) return false;
            if (percent && width > 100) width = 100;
            if (!percent && width > 10000) width = 10000;
            addRule(static_cast<int>(width), percent);
            return true;
        }
        return false;
    }

    void addText(std::string_view text) {
        if (text.empty()) return;
        std::vector<MarkupItem>& items = lines_.back().items;
        if (!items.empty()) {
            MarkupItem& last = items.back();
            if (last.kind == MarkupItem::Text && last.bold == bold_ && last.coloured == coloured_ &&
                (!coloured_ || last.rgb == rgb_)) {
                last.text.append(text);
                return;
            }
        }
        MarkupItem item;
        item.text = std::string(text);
        item.bold = bold_;
        item.coloured = coloured_;
        item.rgb = coloured_ ? rgb_ : 0;
        items.push_back(std::move(item));
    }

    void addRule(int width, bool percent) {
        MarkupItem item;
        item.kind = MarkupItem::Rule;
        item.coloured = coloured_;
        item.rgb = coloured_ ? rgb_ : 0;
        item.ruleWidth = width;
        item.rulePercent = percent;
        lines_.back().items.push_back(std::move(item));
    }

    std::vector<MarkupLine> lines_;
    bool bold_ = false;
    bool coloured_ = false;
    uint32_t rgb_ = 0;
};

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        switch (ch) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += ch;
        }
    }
    return out;
}

std::string colourName(uint32_t rgb) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "#%06x", rgb & 0xFFFFFFu);
    return buffer;
}

}  // namespace

uint32_t windowsColourToRgb(uint32_t colorref) {
    const uint32_t r = colorref & 0xFF, g = (colorref >> 8) & 0xFF, b = (colorref >> 16) & 0xFF;
    return (r << 16) | (g << 8) | b;
}

std::vector<MarkupLine> parseTooltipMarkup(std::string_view markup) { return Parser().run(markup); }

std::string tooltipMarkupToHtml(std::string_view markup) {
    // Each line is a paragraph without margins; a rule is a one-row table of
    // the rule's colour holding a tiny blank, since a rich-text <hr> cannot
    // be coloured and an empty cell collapses.
    std::string html = "<html><body>";
    for (const MarkupLine& line : parseTooltipMarkup(markup)) {
        const std::string align = line.centred ? " align=\"center\"" : "";
        bool paragraphOpen = false;
        for (const MarkupItem& item : line.items) {
            if (item.kind == MarkupItem::Rule) {
                if (paragraphOpen) { html += "</p>"; paragraphOpen = false; }
                const std::string width = std::to_string(item.ruleWidth) + (item.rulePercent ? "%" : "");
                html += "<table width=\"" + width + "\"" + align +
                        " cellspacing=\"0\" cellpadding=\"0\" bgcolor=\"" +
                        colourName(item.coloured ? item.rgb : 0x808080) +
                        "\" style=\"margin-top:3px;margin-bottom:3px\"><tr><td style=\"font-size:2px\">&nbsp;</td></tr></table>";
                continue;
            }
            if (!paragraphOpen) {
                html += "<p" + align + " style=\"margin:0\">";
                paragraphOpen = true;
            }
            std::string run = escapeHtml(item.text);
            if (item.bold) run = "<b>" + run + "</b>";
            if (item.coloured) run = "<span style=\"color:" + colourName(item.rgb) + "\">" + run + "</span>";
            html += run;
        }
        if (paragraphOpen) html += "</p>";
        else if (line.items.empty()) html += "<p style=\"margin:0\"> </p>";
    }
    html += "</body></html>";
    return html;
}

}  // namespace kestrel
