#include "evaluate/ui/CDlgCR.h"

#include <QHBoxLayout>
#include <QTreeWidget>

#include "evaluate/ui/ResultViewSupport.h"

namespace kestrel {

CDlgCR::CDlgCR(const TextClassifier& controller, QWidget* parent)
    : CDlgCR(ResultViewData::fromController(controller), parent) {}

CDlgCR::CDlgCR(ResultViewData data, QWidget* parent)
    : QDialog(parent), data_(std::move(data)), tree_(new QTreeWidget(this)), list_(new QTreeWidget(this)) {
    setWindowTitle(QStringLiteral("分类结果/测试"));
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(tree_, 1);
    layout->addWidget(list_, 2);
    resize(560, 380);

    QTreeWidgetItem* root = fillCategoryTree(tree_, data_.categories);
    setUpReportList(list_, {QStringLiteral("序号"), QStringLiteral("文件名"), QStringLiteral("应属类"),
                            QStringLiteral("划分类")},
                    {45, 60, 60, 60});

    // The list opens on category 0; its tree item is shown selected.
    showCategory(0);
    if (root->childCount() > 0) {
        const QSignalBlocker block(tree_);
        tree_->setCurrentItem(root->child(0));
    }
    connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CDlgCR::onSelectionChanged);
}

void CDlgCR::onSelectionChanged() {
    const QList<QTreeWidgetItem*> selected = tree_->selectedItems();
    if (selected.isEmpty()) return;
    const int category = selected.front()->data(0, kCategoryRole).toInt();
    // The root leaves the list as it is.
    if (category >= 0) showCategory(category);
}

void CDlgCR::showCategory(int category) {
    list_->clear();
    if (category < 0 || static_cast<size_t>(category) >= data_.categories.size()) return;
    const auto nameOf = [this](int32_t id) {
        return id >= 0 && static_cast<size_t>(id) < data_.categories.size()
                   ? displayText(data_.categories[static_cast<size_t>(id)].name)
                   : QString();
    };
    const QIcon correct = resultIcon(ResultIcon::Correct);
    const QIcon wrong = resultIcon(ResultIcon::Wrong);
    QList<QTreeWidgetItem*> rows;
    int number = 0;
    for (const RawDocument& doc : data_.documents) {
        if (doc.trueCategory != category) continue;
        auto* row = new QTreeWidgetItem({QString::number(++number), displayText(doc.fileName),
                                         nameOf(doc.trueCategory), nameOf(doc.assignedCategory)});
        row->setIcon(0, doc.assignedCategory == doc.trueCategory ? correct : wrong);
        rows.append(row);
    }
    list_->addTopLevelItems(rows);
}

}  // namespace kestrel
