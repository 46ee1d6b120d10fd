#include "evaluate/ui/CDlgTP.h"

#include "common/Encoding.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <chrono>
#include <fstream>
#include <random>

#include "app/DialogModels.h"
#include "app/TextClassifier.h"
#include "common/FileSystem.h"
#include "evaluate/ui/ResultViewSupport.h"
#include "widgets/FailureText.h"

namespace kestrel {

namespace {

QGroupBox* boxAround(const QString& title, QWidget* content, QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(content);
    return box;
}

// The text before the first blank, and the text after it ("" without one).
std::pair<std::string_view, std::string_view> splitAtBlank(std::string_view line) {
    const size_t blank = line.find(' ');
    if (blank == std::string_view::npos) return {line, {}};
    return {line.substr(0, blank), line.substr(blank + 1)};
}

// The 1-based number of a vector line (category label, feature number) as
// the 0-based id the category and feature lists show; anything else as it
// stands.
QString idOfNumber(std::string_view number) {
    const auto value = parseInteger(number);
    if (!value || *value < 1) return displayText(number);
    return QString::number(*value - 1);
}

}  // namespace

CDlgTP::CDlgTP(const TextClassifier& controller, QWidget* parent) : CDlgTP(controller.workspacePath, parent) {}

CDlgTP::CDlgTP(std::string workspacePath, QWidget* parent)
    : QDialog(parent),
      workspacePath_(std::move(workspacePath)),
      categoryList_(new QTreeWidget(this)),
      featureList_(new QTreeWidget(this)),
      documentList_(new QTreeWidget(this)),
      categoryField_(new QLineEdit(this)),
      randomButton_(new QPushButton(QStringLiteral("随机查看"), this)),
      statusLabel_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("文本表示"));
    categoryField_->setReadOnly(true);
    categoryField_->setMinimumWidth(categoryField_->fontMetrics().horizontalAdvance(QStringLiteral("00 计算机类")) + 12);
    categoryField_->setMaximumWidth(160);
    statusLabel_->setWordWrap(true);
    statusLabel_->hide();

    auto* documentPart = new QWidget(this);
    auto* documentLayout = new QVBoxLayout(documentPart);
    documentLayout->setContentsMargins(0, 0, 0, 0);
    auto* labelRow = new QHBoxLayout;
    labelRow->addWidget(new QLabel(QStringLiteral("所属类别："), this));
    labelRow->addWidget(categoryField_);
    labelRow->addStretch();
    labelRow->addWidget(randomButton_);
    documentLayout->addLayout(labelRow);
    documentLayout->addWidget(documentList_);

    auto* boxes = new QHBoxLayout;
    boxes->addWidget(boxAround(QStringLiteral("类别信息"), categoryList_, this));
    boxes->addWidget(boxAround(QStringLiteral("特征项信息"), featureList_, this));
    boxes->addWidget(boxAround(QStringLiteral("文本信息"), documentPart, this), 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(boxes);
    layout->addWidget(statusLabel_);
    resize(640, 420);

    // Until a list is set up it has no columns.
    for (QTreeWidget* list : {categoryList_, featureList_, documentList_}) list->setColumnCount(0);
    loadLists();
    connect(randomButton_, &QPushButton::clicked, this, [this] { randomView(); });
}

QString CDlgTP::status() const { return statusLabel_->text(); }

void CDlgTP::setStatus(const QString& text) {
    statusLabel_->setText(text);
    statusLabel_->setVisible(!text.isEmpty());
}

// The lists are set up in turn, each after the file before it was read: a
// missing classes.txt leaves the other two lists without columns, a missing
// features.txt the document list.
void CDlgTP::loadLists() {
    setUpReportList(categoryList_, {QStringLiteral("ID"), QStringLiteral("类别")}, {50, 70});
    Result<std::vector<std::string>> lines = readLines(workspacePath_ + "classes.txt");
    if (!lines) {
        setStatus(chineseFailureText(displayText(lines.message())));
        return;
    }
    QList<QTreeWidgetItem*> rows;
    for (const std::string& line : *lines) {
        if (line.empty()) continue;
        const auto [id, name] = splitAtBlank(line);
        rows.append(new QTreeWidgetItem({displayText(id), displayText(name)}));
    }
    categoryList_->addTopLevelItems(rows);

    setUpReportList(featureList_, {QStringLiteral("ID"), QStringLiteral("特征项")}, {50, 70});
    lines = readLines(workspacePath_ + "features.txt");
    if (!lines) {
        setStatus(chineseFailureText(displayText(lines.message())));
        return;
    }
    rows.clear();
    for (const std::string& line : *lines) {
        if (line.empty()) continue;
        const auto [id, rest] = splitAtBlank(line);
        const std::string_view term = splitAtBlank(rest).first;
        // Words in features.txt are always GBK; guessing could take a short
        // GBK word for UTF-8.
        rows.append(new QTreeWidgetItem({displayText(id), QString::fromStdString(gbkToUtf8(term))}));
    }
    featureList_->addTopLevelItems(rows);

    setUpReportList(documentList_, {QStringLiteral("特征ID"), QStringLiteral("特征权值")}, {60, 80});
}

bool CDlgTP::randomView() {
    std::mt19937 generator(static_cast<uint32_t>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    return randomView([&generator] { return static_cast<uint32_t>(generator()); });
}

bool CDlgTP::randomView(const std::function<uint32_t()>& nextRandom) {
    documentList_->clear();
    categoryField_->clear();
    const std::string path = workspacePath_ + "train.dat";
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        setStatus(QStringLiteral("无法打开 ") + displayText(path));
        return false;
    }
    std::string line;
    bool picked = false;
    size_t lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        if (nextRandom() % 1000 == 1) {
            picked = true;
            break;
        }
    }
    // Fewer than a few thousand lines often give no pick at all; then one
    // line is drawn evenly and read in a second pass.
    if (!picked && !in.bad() && lines > 0) {
        const size_t wanted = nextRandom() % lines;
        in.clear();
        in.seekg(0);
        for (size_t n = 0; n <= wanted && std::getline(in, line); ++n) picked = n == wanted;
    }
    if (!picked) {
        setStatus(in.bad() ? QStringLiteral("读取 ") + displayText(path) + QStringLiteral(" 时出错")
                           : QStringLiteral("这次没有抽中文档，请再点一次“随机查看”"));
        return false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto [label, items] = splitAtBlank(line);
    // The label is the category id + 1; shown as the id with its name, as
    // the category list has them.
    QString category = idOfNumber(label);
    for (int row = 0; row < categoryList_->topLevelItemCount(); ++row)
        if (categoryList_->topLevelItem(row)->text(0) == category)
            category += QLatin1Char(' ') + categoryList_->topLevelItem(row)->text(1);
    categoryField_->setText(category);
    // A list without columns (features.txt was unreadable) shows no rows.
    if (documentList_->columnCount() > 0) {
        QList<QTreeWidgetItem*> rows;
        size_t pos = 0;
        while (pos < items.size()) {
            const size_t end = std::min(items.find(' ', pos), items.size());
            const std::string_view item = items.substr(pos, end - pos);
            pos = end + 1;
            if (item.empty()) continue;
            const size_t colon = item.find(':');
            const std::string_view feature = item.substr(0, colon);
            const std::string_view weight = colon == std::string_view::npos ? std::string_view() : item.substr(colon + 1);
            rows.append(new QTreeWidgetItem({idOfNumber(feature), displayText(weight)}));
        }
        documentList_->addTopLevelItems(rows);
    }
    setStatus(QString());
    return true;
}

}  // namespace kestrel
