#include "widgets/CPPToolTip.h"

#include <QWidget>

#include "widgets/TooltipMarkup.h"

namespace kestrel {

CPPToolTip::CPPToolTip(QObject* parent) : QObject(parent) {}

QString CPPToolTip::toHtml(const QString& markup) {
    return QString::fromStdString(tooltipMarkupToHtml(markup.toStdString()));
}

void CPPToolTip::addTool(QWidget* tool, const QString& markup) {
    if (!tool) return;
    if (!markup_.contains(tool))
        connect(tool, &QObject::destroyed, this, [this, tool] { markup_.remove(tool); });
    markup_[tool] = markup;
    tool->setToolTip(toHtml(markup));
}

void CPPToolTip::removeTool(QWidget* tool) {
    if (!tool || !markup_.contains(tool)) return;
    markup_.remove(tool);
    disconnect(tool, &QObject::destroyed, this, nullptr);
    tool->setToolTip(QString());
}

QString CPPToolTip::markup(QWidget* tool) const { return markup_.value(tool); }

}  // namespace kestrel
