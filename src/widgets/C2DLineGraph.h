#pragma once
// The two-dimensional line graph: segments on a category axis, values on a
// 0-100 axis titled with the subtitle, one coloured line per series with the
// values written at the points.
#include <QChart>

namespace kestrel {

struct GraphData;

class C2DLineGraph {
public:
    // A new chart (owned by the caller) showing the data.
    static QChart* build(const GraphData& data);
};

}  // namespace kestrel
