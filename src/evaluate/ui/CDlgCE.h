#pragma once
// The evaluation window: categories in a tree, the text report and the
// contingency counts of the selection, the confusion matrix as a grid or the
// recall/precision chart below, and the workbook export.
#include <QDialog>
#include <memory>

#include "evaluate/Evaluation.h"
#include "evaluate/ResultViewData.h"

class QFrame;
class QHBoxLayout;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace kestrel {

class CGraphObject;
class CMsflexgrid;
class TextClassifier;

class CDlgCE : public QDialog {
    Q_OBJECT
public:
    CDlgCE(const TextClassifier& controller, QWidget* parent = nullptr);
    CDlgCE(ResultViewData data, QWidget* parent = nullptr);
    ~CDlgCE() override;

    const Evaluation& evaluation() const { return *evaluation_; }
    QTreeWidget* tree() const { return tree_; }
    QPlainTextEdit* report() const { return report_; }
    CMsflexgrid* countGrid() const { return countGrid_; }
    CMsflexgrid* matrixGrid() const { return matrixGrid_; }
    CGraphObject* chart() const { return chart_; }
    QRadioButton* matrixRadio() const { return matrixRadio_; }
    QRadioButton* chartRadio() const { return chartRadio_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* optionsButton() const { return optionsButton_; }

    // The pooled counts and the overall report (the tree's root).
    void showOverall();
    // The counts and report of one category.
    void showCategory(int category);
    // True while the window shows only its upper part.
    bool isCompact() const { return compact_; }
    // Switches between the short and the full height.
    void toggleOptions();
    // Exports to the workbook; `message` says what happened (UTF-8 text).
    bool exportEvaluation(QString& message);

private:
    void build();
    // The widgets above the separator, in the layout returned.
    QHBoxLayout* buildUpperPart();
    // The widgets below the separator, in `lowerPart_`.
    void buildLowerPart();
    void setUpCountGrid();
    void fillConfusionMatrix();
    void fillChart();
    void onSelectionChanged();
    void onSave();
    void showCounts(const QString& title, const Contingency& record, const std::string& text);

    ResultViewData data_;
    std::unique_ptr<Evaluation> evaluation_;
    QTreeWidget* tree_ = nullptr;
    QPlainTextEdit* report_ = nullptr;
    CMsflexgrid* countGrid_ = nullptr;
    CMsflexgrid* matrixGrid_ = nullptr;
    CGraphObject* chart_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    QPushButton* optionsButton_ = nullptr;
    QFrame* separator_ = nullptr;
    QWidget* lowerPart_ = nullptr;
    QRadioButton* matrixRadio_ = nullptr;
    QRadioButton* chartRadio_ = nullptr;
    bool compact_ = false;
    int fullHeight_ = 0;
    int shortHeight_ = 0;
};

}  // namespace kestrel
