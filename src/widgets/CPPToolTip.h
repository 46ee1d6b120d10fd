#pragma once
// Tooltips written in the small inline markup of TooltipMarkup.h (bold,
// colour, centred lines, rules), shown as rich text.
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace kestrel {

class CPPToolTip : public QObject {
    Q_OBJECT
public:
    explicit CPPToolTip(QObject* parent = nullptr);

    // Gives `tool` a tooltip from markup; a later call replaces it.
    void addTool(QWidget* tool, const QString& markup);
    void removeTool(QWidget* tool);
    // The markup given for a tool (empty when it has none).
    QString markup(QWidget* tool) const;

    // The rich text a markup string is shown as.
    static QString toHtml(const QString& markup);

private:
    QHash<QWidget*, QString> markup_;
};

}  // namespace kestrel
