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

    // A mark on the picture telling where the button stands in a sequence
    // of steps: done (a green tick), next (framed, with a blue arrow), not
    // yet possible (picture and caption greyed; the button still answers a
    // press), or none.
    enum class Mark { None, Done, Next, Blocked };
    void setMark(Mark mark);
    Mark mark() const { return mark_; }

    // A picture drawn at run time: a rounded tile of `colour` with `glyph`
    // (one or two characters) in white, `size` pixels square.
    static QPixmap makeImage(const QString& glyph, const QColor& colour, int size = 32);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Mark mark_ = Mark::None;
};

}  // namespace kestrel
