#pragma once
// What the evaluation window shows beside its fixed grids and chart: the
// confusion matrix shaded as a heat map with its axes named, the table of
// per-category scores, and the picture saved beside the workbook.
#include <QImage>
#include <vector>

#include "common/Corpus.h"
#include "evaluate/CategoryScores.h"
#include "widgets/HeatMap.h"

class QPixmap;

namespace kestrel {

class CMsflexgrid;
class Evaluation;

// The confusion matrix with its axis titles: rows the true categories,
// columns the assigned ones.
HeatMapData confusionHeatMap(const Evaluation& evaluation, const CategoryTable& categories);

// What the window says above the matrix about its axes and shades.
QString heatMapCaption();

// Shades the cells of the matrix grid (filled with the counts, names in
// row and column 0) by their share of the row; each cell's tooltip names
// its two categories and the share.
void shadeConfusionGrid(CMsflexgrid& grid, const HeatMapData& data);

// The per-category table: a header row, one row per category, then the
// macro and micro averages.
void fillScoreGrid(CMsflexgrid& grid, const std::vector<CategoryScore>& scores);

// The chart above the heat map, on white, as one picture.
QImage evaluationPicture(const QPixmap& chart, const HeatMapData& data);

}  // namespace kestrel
