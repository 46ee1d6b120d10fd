#pragma once
// A dialog with a painted background: a picture when one is set, otherwise a
// soft vertical gradient of the window colour.
#include <QDialog>
#include <QPixmap>

namespace kestrel {

class CBkDialog : public QDialog {
    Q_OBJECT
public:
    explicit CBkDialog(QWidget* parent = nullptr);

    // The picture is stretched over the whole dialog; a null pixmap restores
    // the gradient.
    void setBackgroundImage(const QPixmap& image);
    const QPixmap& backgroundImage() const { return background_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap background_;
};

}  // namespace kestrel
