#pragma once
// Results of an unlabelled (example) corpus: every document with the category
// it was assigned.
#include <QDialog>

#include "evaluate/ResultViewData.h"

class QTreeWidget;

namespace kestrel {

class TextClassifier;

class CDlgCRE : public QDialog {
    Q_OBJECT
public:
    CDlgCRE(const TextClassifier& controller, QWidget* parent = nullptr);
    CDlgCRE(ResultViewData data, QWidget* parent = nullptr);

    QTreeWidget* list() const { return list_; }

private:
    ResultViewData data_;
    QTreeWidget* list_;
};

}  // namespace kestrel
