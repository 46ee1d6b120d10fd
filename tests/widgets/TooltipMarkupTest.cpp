#include <gtest/gtest.h>

#include "widgets/TooltipMarkup.h"

namespace kestrel {
namespace {

// The step buttons' tooltip form: centred bold red title, green rule, plain
// description with its own line break.
TEST(TooltipMarkup, StepButtonTooltip) {
    const auto lines = parseTooltipMarkup(
        "<b><ct=0x0000FF><al_c>预处理</b><br><ct=0x00AA00><hr=100%></ct><br>对训练文档进行分词、去除<br>停用词等");
    ASSERT_EQ(lines.size(), 4u);

    EXPECT_TRUE(lines[0].centred);
    ASSERT_EQ(lines[0].items.size(), 1u);
    EXPECT_EQ(lines[0].items[0].text, "预处理");
    EXPECT_TRUE(lines[0].items[0].bold);
    EXPECT_TRUE(lines[0].items[0].coloured);
    EXPECT_EQ(lines[0].items[0].rgb, 0xFF0000u);  // 0x0000FF is red in Windows order

    ASSERT_EQ(lines[1].items.size(), 1u);
    EXPECT_EQ(lines[1].items[0].kind, MarkupItem::Rule);
    EXPECT_EQ(lines[1].items[0].rgb, 0x00AA00u);
    EXPECT_EQ(lines[1].items[0].ruleWidth, 100);
    EXPECT_TRUE(lines[1].items[0].rulePercent);
    EXPECT_FALSE(lines[1].centred);

    // </ct> ends the colour; </b> ended bold.
    ASSERT_EQ(lines[2].items.size(), 1u);
    EXPECT_EQ(lines[2].items[0].text, "对训练文档进行分词、去除");
    EXPECT_FALSE(lines[2].items[0].bold);
    EXPECT_FALSE(lines[2].items[0].coloured);
    EXPECT_EQ(lines[3].items[0].text, "停用词等");
}

TEST(TooltipMarkup, ColoursRunsAndUnknownTags) {
    EXPECT_EQ(windowsColourToRgb(0x00123456), 0x563412u);

    // Style changes split runs; equal styles merge; a blue run in decimal.
    auto lines = parseTooltipMarkup("a<b>b</b>c<ct=16711680>d</ct>");
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].items.size(), 4u);
    EXPECT_EQ(lines[0].items[3].rgb, 0x0000FFu);

    // Unknown or malformed tags and a lone '<' are text.
    lines = parseTooltipMarkup("x<i>y<ct=zz>1 < 2<hr=abc>");
    ASSERT_EQ(lines.size(), 1u);
    ASSERT_EQ(lines[0].items.size(), 1u);
    EXPECT_EQ(lines[0].items[0].text, "x<i>y<ct=zz>1 < 2<hr=abc>");

    // A rule in pixels, and an over-wide percentage clamped.
    lines = parseTooltipMarkup("<hr=40><br><hr=250%>");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_FALSE(lines[0].items[0].rulePercent);
    EXPECT_EQ(lines[0].items[0].ruleWidth, 40);
    EXPECT_EQ(lines[1].items[0].ruleWidth, 100);

    EXPECT_TRUE(parseTooltipMarkup("").at(0).items.empty());
}

TEST(TooltipMarkup, Html) {
    const std::string html = tooltipMarkupToHtml("<al_c><b><ct=0x0000FF>A&B</b></ct><br><ct=0x00AA00><hr=100%>");
    EXPECT_NE(html.find("<p align=\"center\" style=\"margin:0\"><span style=\"color:#ff0000\"><b>A&amp;B</b></span></p>"),
              std::string::npos)
        << html;
    EXPECT_NE(html.find("<table width=\"100%\""), std::string::npos);
    EXPECT_NE(html.find("bgcolor=\"#00aa00\""), std::string::npos);
    // Text that looks like markup is escaped, never passed through.
    EXPECT_EQ(tooltipMarkupToHtml("<script>").find("<script>"), std::string::npos);
}

}  // namespace
}  // namespace kestrel
