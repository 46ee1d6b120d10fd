#include "evaluate/ui/CDlgCE.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "evaluate/CategoryScores.h"
#include "workspace/WorkspaceTransaction.h"
#include "evaluate/WorkbookExport.h"
#include "evaluate/ui/EvaluationViews.h"
#include "evaluate/ui/ResultViewSupport.h"
#include "widgets/CGraphObject.h"
#include "widgets/CMsflexgrid.h"
#include "widgets/FailureText.h"
#include "widgets/UiHooks.h"

namespace kestrel {

namespace {

// The saved chart's size: every category name and value readable.
const QSize kChartImageSize(1200, 700);

// Writes the picture whole or not at all; false with `error` set.
bool savePicture(const QImage& picture, const QString& path, QString& error) {
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && picture.save(&file, "PNG") && file.commit()) return true;
    error = file.errorString();
    return false;
}

}  // namespace

CDlgCE::CDlgCE(const TextClassifier& controller, QWidget* parent)
    : CDlgCE(ResultViewData::fromController(controller), parent) {}

CDlgCE::CDlgCE(ResultViewData data, QWidget* parent)
    : QDialog(parent),
      data_(std::move(data)),
      evaluation_(std::make_unique<Evaluation>(data_.categories, data_.documents, data_.rawDocCount)) {
    build();
}

CDlgCE::~CDlgCE() = default;

void CDlgCE::build() {
    setWindowTitle(QStringLiteral("分类评测"));

    QHBoxLayout* upper = buildUpperPart();
    separator_ = new QFrame(this);
    separator_->setFrameShape(QFrame::HLine);
    separator_->setFrameShadow(QFrame::Sunken);
    buildLowerPart();

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(upper);
    layout->addWidget(separator_);
    layout->addWidget(lowerPart_, 1);

    // Tree of categories.
    fillCategoryTree(tree_, data_.categories);
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CDlgCE::onSelectionChanged);

    setUpCountGrid();
    fillConfusionMatrix();
    fillChart();
    fillScoreGrid(*scoreGrid_, categoryScores(*evaluation_));
    matrixRadio_->setChecked(true);
    showLowerView(matrixView_);
    const std::pair<QRadioButton*, QWidget*> views[] = {
        {matrixRadio_, matrixView_}, {chartRadio_, chart_}, {scoresRadio_, scoreGrid_}};
    for (const auto& [radio, view] : views)
        connect(radio, &QRadioButton::toggled, this, [this, view = view](bool on) {
            if (on) showLowerView(view);
        });

    connect(optionsButton_, &QPushButton::clicked, this, &CDlgCE::toggleOptions);
    connect(saveButton_, &QPushButton::clicked, this, &CDlgCE::onSave);

    showOverall();

    // The two heights: the whole window, and the window down to the
    // separator. It opens in the short one.
    resize(std::max(sizeHint().width(), 720), sizeHint().height());
    layout->activate();
    fullHeight_ = height();
    shortHeight_ = separator_->geometry().bottom() + layout->contentsMargins().bottom() + 1;
    compact_ = false;
    toggleOptions();
}

QHBoxLayout* CDlgCE::buildUpperPart() {
    // Tree | report over the counts grid | buttons.
    tree_ = new QTreeWidget(this);
    tree_->setMinimumWidth(150);
    report_ = new QPlainTextEdit(this);
    report_->setReadOnly(true);
    report_->setMinimumHeight(110);
    countGrid_ = new CMsflexgrid(this);
    saveButton_ = new QPushButton(QStringLiteral("保存"), this);
    optionsButton_ = new QPushButton(QStringLiteral("选项"), this);

    auto* middle = new QVBoxLayout;
    middle->addWidget(report_, 1);
    middle->addWidget(countGrid_);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(saveButton_);
    buttons->addWidget(optionsButton_);
    buttons->addStretch();
    auto* upper = new QHBoxLayout;
    upper->addWidget(tree_);
    upper->addLayout(middle, 1);
    upper->addLayout(buttons);
    return upper;
}

void CDlgCE::buildLowerPart() {
    // The radio buttons, then the matrix grid, the chart or the scores in
    // the same place.
    lowerPart_ = new QWidget(this);
    matrixRadio_ = new QRadioButton(QStringLiteral("混淆矩阵"), lowerPart_);
    chartRadio_ = new QRadioButton(QStringLiteral("图形显示"), lowerPart_);
    scoresRadio_ = new QRadioButton(QStringLiteral("各类别指标"), lowerPart_);
    scoresRadio_->setObjectName(QStringLiteral("scores"));
    matrixView_ = new QWidget(lowerPart_);
    matrixGrid_ = new CMsflexgrid(matrixView_);
    auto* caption = new QLabel(heatMapCaption(), matrixView_);
    caption->setObjectName(QStringLiteral("matrixCaption"));
    caption->setWordWrap(true);
    auto* captionRow = new QHBoxLayout;
    captionRow->addWidget(caption, 1);
    captionRow->addWidget(new HeatLegend(matrixView_));
    auto* matrixLayout = new QVBoxLayout(matrixView_);
    matrixLayout->setContentsMargins(0, 0, 0, 0);
    matrixLayout->addLayout(captionRow);
    matrixLayout->addWidget(matrixGrid_, 1);
    chart_ = new CGraphObject(lowerPart_);
    scoreGrid_ = new CMsflexgrid(lowerPart_);
    scoreGrid_->setObjectName(QStringLiteral("scoreGrid"));
    // Room for ten categories' names turned under the chart.
    for (QWidget* view : lowerViews()) view->setMinimumHeight(340);
    auto* radios = new QHBoxLayout;
    radios->addWidget(matrixRadio_);
    radios->addWidget(chartRadio_);
    radios->addWidget(scoresRadio_);
    radios->addStretch();
    auto* lower = new QVBoxLayout(lowerPart_);
    lower->setContentsMargins(0, 0, 0, 0);
    lower->addLayout(radios);
    lower->addWidget(matrixView_, 1);
    lower->addWidget(chart_, 1);
    lower->addWidget(scoreGrid_, 1);
}

QList<QWidget*> CDlgCE::lowerViews() const { return {matrixView_, chart_, scoreGrid_}; }

void CDlgCE::showLowerView(QWidget* view) {
    for (QWidget* each : lowerViews()) each->setVisible(each == view);
}

void CDlgCE::setUpCountGrid() {
    // The fixed headers; the counts follow the selection.
    countGrid_->setRows(3);
    countGrid_->setCols(3);
    countGrid_->setFixedRows(1);
    countGrid_->setFixedCols(1);
    countGrid_->setColWidth(0, 2200);
    countGrid_->setColWidth(1, 1900);
    countGrid_->setColWidth(2, 2100);
    countGrid_->setTextMatrix(0, 1, QStringLiteral("真正属于该类的文档数"));
    countGrid_->setTextMatrix(0, 2, QStringLiteral("真正不属于该类的文档数"));
    countGrid_->setTextMatrix(1, 0, QStringLiteral("判断为属于该类的文档数"));
    countGrid_->setTextMatrix(2, 0, QStringLiteral("判断为不属于该类的文档数"));
    // The widths above are kept unless a header needs more room in the
    // window's font.
    for (int col = 0; col < 3; ++col) countGrid_->widenColumnToText(col);
    int gridWidth = 2 * countGrid_->frameWidth(), gridHeight = 2 * countGrid_->frameWidth();
    for (int c = 0; c < 3; ++c) gridWidth += countGrid_->columnWidth(c);
    for (int r = 0; r < 3; ++r) gridHeight += countGrid_->rowHeight(r);
    countGrid_->setFixedSize(gridWidth, gridHeight);
    countGrid_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    countGrid_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void CDlgCE::fillConfusionMatrix() {
    // Rows true categories, columns assigned categories.
    const int c = static_cast<int>(evaluation_->categoryCount());
    matrixGrid_->setRows(c + 1);
    matrixGrid_->setCols(c + 1);
    matrixGrid_->setFixedRows(1);
    matrixGrid_->setFixedCols(1);
    for (int i = 0; i < c; ++i) {
        const QString name = displayText(data_.categories[static_cast<size_t>(i)].name);
        matrixGrid_->setTextMatrix(0, i + 1, name);
        matrixGrid_->setTextMatrix(i + 1, 0, name);
        for (int j = 0; j < c; ++j)
            matrixGrid_->setTextMatrix(i + 1, j + 1,
                                       QString::number(evaluation_->confusion()[static_cast<size_t>(i)][static_cast<size_t>(j)]));
    }

    for (int col = 0; col <= c; ++col) matrixGrid_->widenColumnToText(col);
    heatMap_ = confusionHeatMap(*evaluation_, data_.categories);
    shadeConfusionGrid(*matrixGrid_, heatMap_);
}

void CDlgCE::fillChart() {
    // One segment per measures row, recall red and precision yellow, in
    // whole percent (truncated). Hidden until its radio button is chosen.
    chart_->createGraph(CGraphObject::BarGraph2D);
    chart_->setGraphTitle(QStringLiteral("查全率/查准率"));
    chart_->setGraphSubtitle(QStringLiteral("单位：%"));
    const int recall = chart_->addSeries(QStringLiteral("查全率"), QColor(Qt::red));
    const int precision = chart_->addSeries(QStringLiteral("查准率"), QColor(Qt::yellow));
    for (const MeasureRow& row : evaluation_->measures()) {
        const int segment = chart_->addSegment(displayText(row.name));
        chart_->setValue(segment, recall, static_cast<int>(row.recall * 100));
        chart_->setValue(segment, precision, static_cast<int>(row.precision * 100));
    }
    chart_->refresh();
}

void CDlgCE::toggleOptions() {
    compact_ = !compact_;
    lowerPart_->setVisible(!compact_);
    if (layout()) layout()->activate();
    resize(width(), compact_ ? shortHeight_ : fullHeight_);
}

void CDlgCE::onSelectionChanged() {
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    if (selected.isEmpty()) return;
    const int category = selected.front()->data(0, kCategoryRole).toInt();
    if (category < 0) showOverall();
    else showCategory(category);
}

void CDlgCE::showCounts(const QString& title, const Contingency& record, const std::string& text) {
    countGrid_->setTextMatrix(0, 0, title);
    countGrid_->setTextMatrix(1, 1, QString::number(record.a));
    countGrid_->setTextMatrix(1, 2, QString::number(record.b));
    countGrid_->setTextMatrix(2, 1, QString::number(record.c));
    countGrid_->setTextMatrix(2, 2, QString::number(record.d));
    report_->setPlainText(QString::fromStdString(text));
}

void CDlgCE::showOverall() {
    showCounts(QStringLiteral("全局"), evaluation_->contingency().back(), evaluation_->overallReport());
}

void CDlgCE::showCategory(int category) {
    if (category < 0 || static_cast<uint32_t>(category) >= evaluation_->categoryCount()) return;
    const size_t i = static_cast<size_t>(category);
    showCounts(displayText(data_.categories[i].name), evaluation_->contingency()[i],
               evaluation_->categoryReport(static_cast<uint32_t>(category)));
}

bool CDlgCE::exportEvaluation(QString& message) {
    const std::string path = data_.workspacePath + kEvaluationWorkbookName;
    // The workbook changes under the workspace's lock, recorded in its manifest.
    WorkspaceTransaction update(data_.workspacePath);
    Status saved = update.begin("export");
    if (saved) saved = exportWorkbook(update.directory(), *evaluation_, data_.categories);
    if (saved) saved = update.commit();
    if (!saved) {
        message = QStringLiteral("保存失败：") + chineseFailureText(displayText(saved.message()));
        return false;
    }
    message = QStringLiteral("评价结果已保存到 ") + displayText(path);
    // The chart and the heat map go beside the workbook as a picture.
    std::string picture = path.substr(0, path.rfind('.')) + ".png";
    QString pictureError;
    if (!savePicture(evaluationPicture(chart_->picture(kChartImageSize), heatMap_), pathToDisplay(picture),
                     pictureError)) {
        message += QStringLiteral("\n图表未能保存：") + pictureError;
        return false;
    }
    message += QStringLiteral("\n图表和混淆矩阵已保存到 ") + displayText(picture);
    return true;
}

void CDlgCE::onSave() {
    QString message;
    const bool saved = exportEvaluation(message);
    showMessage(this, saved ? QMessageBox::Information : QMessageBox::Warning, QStringLiteral("保存"), message);
}

}  // namespace kestrel
