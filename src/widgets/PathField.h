#pragma once
// A path inside a message: at rest it shows the path elided in the middle,
// so that both its start and its file name stay visible in a box of
// moderate width; clicked or tabbed into, it holds the whole path, selected,
// ready to be copied. The whole path is also its tooltip.
#include <QLineEdit>

namespace kestrel {

class PathField : public QLineEdit {
    Q_OBJECT
public:
    explicit PathField(const QString& path, QWidget* parent = nullptr);

    // What the field shows while it does not have the focus.
    QString shownText() const;

    // The width the whole path needs.
    int naturalWidth() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    // The text area inside the frame and the line edit's own margins.
    QRect textArea() const;
};

}  // namespace kestrel
