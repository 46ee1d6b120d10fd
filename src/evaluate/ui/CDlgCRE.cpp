#include "evaluate/ui/CDlgCRE.h"

#include <QTreeWidget>
#include <QVBoxLayout>

#include "evaluate/ui/ResultViewSupport.h"

namespace kestrel {

CDlgCRE::CDlgCRE(const TextClassifier& controller, QWidget* parent)
    : CDlgCRE(ResultViewData::fromController(controller), parent) {}

CDlgCRE::CDlgCRE(ResultViewData data, QWidget* parent)
    : QDialog(parent), data_(std::move(data)), list_(new QTreeWidget(this)) {
    setWindowTitle(QStringLiteral("分类结果/实例"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    resize(300, 380);

    setUpReportList(list_, {QStringLiteral("序号"), QStringLiteral("文件名"), QStringLiteral("划分类")},
                    {60, 100, 60});
    QList<QTreeWidgetItem*> rows;
    int number = 0;
    for (const RawDocument& doc : data_.documents) {
        const int32_t id = doc.assignedCategory;
        const QString assigned = id >= 0 && static_cast<size_t>(id) < data_.categories.size()
                                     ? displayText(data_.categories[static_cast<size_t>(id)].name)
                                     : QString();
        rows.append(new QTreeWidgetItem({QString::number(++number), displayText(doc.fileName), assigned}));
    }
    list_->addTopLevelItems(rows);
}

}  // namespace kestrel
