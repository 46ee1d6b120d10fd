#pragma once
// Pieces shared by the result and evaluation windows: their icons (drawn at
// run time), the category tree and report-style lists.
#include <QIcon>
#include <QString>
#include <QStringList>
#include <string_view>

#include "common/Corpus.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace kestrel {

enum class ResultIcon { Root, Category, Correct, Wrong };
QIcon resultIcon(ResultIcon which);

// Text of the workspace or controller (GBK or UTF-8 bytes) for display.
QString displayText(std::string_view bytes);

// Item data role holding a tree item's category id (-1 for the root).
constexpr int kCategoryRole = Qt::UserRole + 1;

// Fills the tree with the root "测试文档" and one child per category in id
// order, expanded; returns the root.
QTreeWidgetItem* fillCategoryTree(QTreeWidget* tree, const CategoryTable& categories);

// Makes a tree widget a flat list with the given columns and pixel widths.
void setUpReportList(QTreeWidget* list, const QStringList& columns, const QList<int>& widths);

}  // namespace kestrel
