#pragma once
// An image button: a picture above its caption, drawn flat until the mouse
// is over it, as the main window's step buttons are.
#include <QColor>
#include <QIcon>
#include <QToolButton>

namespace kestrel {

class CButtonST : public QToolButton {
    Q_OBJECT
public:
    explicit CButtonST(const QString& caption = {}, QWidget* parent = nullptr);

    // Sets the picture and its size.
    void setImage(const QIcon& image, const QSize& size = QSize(32, 32));
    // Flat: no frame until hovered (the default); otherwise always framed.
    void setFlat(bool flat);
    bool isFlat() const { return autoRaise(); }

    // A picture drawn at run time: a rounded tile of `colour` with `glyph`
    // (one or two characters) in white, `size` pixels square.
    static QPixmap makeImage(const QString& glyph, const QColor& colour, int size = 32);
};

}  // namespace kestrel
