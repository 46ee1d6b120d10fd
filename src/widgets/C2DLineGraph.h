#pragma once
// The two-dimensional line graph: segments on a category axis, values on a
// 0-100 axis titled with the subtitle, one coloured line per series with the
// values written at the points. Segment names are turned when they do not
// fit side by side; where two series meet in a segment the larger value is
// written above its point and the smaller below, so values never overlap;
// colours too light to read on white are drawn darker.
#include <QChart>

namespace kestrel {

struct GraphData;

class C2DLineGraph {
public:
    // A new chart (owned by the caller) showing the data.
    static QChart* build(const GraphData& data);
    // The colour a series is drawn in: `colour`, darkened (a yellow turned
    // towards gold) until it stands out from a white background by a
    // contrast ratio of at least 3:1.
    static QColor readableColour(const QColor& colour);
};

}  // namespace kestrel
