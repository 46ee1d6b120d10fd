#pragma once
// The two-dimensional bar graph: segments side by side on a category axis,
// one coloured bar per series in each segment, values on a 0-100 axis
// titled with the subtitle and written on the bars. Bars rather than lines,
// because the segments (categories) have no order a line could suggest.
// Segment names are turned when they do not fit side by side; a value is
// written inside the top of its bar when the bar is tall enough, above it
// otherwise, and turned upright when the bars are too narrow for it; fill
// colours too light to see on white are drawn darker.
#include <QChart>

namespace kestrel {

struct GraphData;

class C2DBarGraph {
public:
    // A new chart (owned by the caller) showing the data.
    static QChart* build(const GraphData& data);
    // The colour a series is drawn in: `colour`, darkened (a yellow turned
    // towards gold) until it stands out from a white background by a
    // contrast ratio of at least 3:1.
    static QColor readableColour(const QColor& colour);
};

}  // namespace kestrel
