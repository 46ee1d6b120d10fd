#pragma once
// The evaluation window: categories in a tree, the text report and the
// contingency counts of the selection, below them the confusion matrix (a
// grid shaded as a heat map), the recall/precision chart or the table of
// per-category scores, and the workbook export.
#include <QDialog>
#include <memory>

#include "evaluate/Evaluation.h"
#include "evaluate/ResultViewData.h"
#include "widgets/HeatMap.h"

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
    // The per-category scores and the radio button that shows them.
    CMsflexgrid* scoreGrid() const { return scoreGrid_; }
    QRadioButton* scoresRadio() const { return scoresRadio_; }
    const HeatMapData& heatMap() const { return heatMap_; }
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
    // The lower part's three views; one is shown at a time.
    QList<QWidget*> lowerViews() const;
    void showLowerView(QWidget* view);
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
    QRadioButton* scoresRadio_ = nullptr;
    QWidget* matrixView_ = nullptr;  // the grid with its axis caption
    CMsflexgrid* scoreGrid_ = nullptr;
    HeatMapData heatMap_;
    bool compact_ = false;
    int fullHeight_ = 0;
    int shortHeight_ = 0;
};

}  // namespace kestrel
