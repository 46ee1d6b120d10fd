#pragma once
// Results of a labelled (test) corpus: the categories in a tree, and the
// documents of the selected category with their true and assigned category.
#include <QDialog>

#include "evaluate/ResultViewData.h"

class QTreeWidget;

namespace kestrel {

class TextClassifier;

class CDlgCR : public QDialog {
    Q_OBJECT
public:
    CDlgCR(const TextClassifier& controller, QWidget* parent = nullptr);
    CDlgCR(ResultViewData data, QWidget* parent = nullptr);

    QTreeWidget* tree() const { return tree_; }
    QTreeWidget* list() const { return list_; }
    // Fills the list with the documents whose true category is `category`.
    void showCategory(int category);

private:
    void onSelectionChanged();

    ResultViewData data_;
    QTreeWidget* tree_;
    QTreeWidget* list_;
};

}  // namespace kestrel
