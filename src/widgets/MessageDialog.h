#pragma once
// The message box of every window: an icon, the text and an OK button, with
// an optional detail text behind a button. The box is as wide as its text
// needs up to a readable measure, wraps longer text and is as high as the
// wrapped text, so no message is ever cut. A path too wide for the box gets
// a row of its own, elided in the middle until it is clicked (PathField).
// Ctrl+C copies the whole message, paths unabridged.
#include <QDialog>
#include <QFontMetrics>
#include <QList>
#include <QMessageBox>

class QLabel;
class QVBoxLayout;
class QPlainTextEdit;
class QPushButton;

namespace kestrel {

class PathField;

class MessageDialog : public QDialog {
    Q_OBJECT
public:
    MessageDialog(QMessageBox::Icon icon, const QString& caption, const QString& text, const QString& detail = {},
                  QWidget* parent = nullptr);

    // The message as given.
    const QString& text() const { return text_; }
    const QString& detail() const { return detail_; }
    // The rows of the message, in order: runs of text and paths.
    const QList<QLabel*>& textLabels() const { return labels_; }
    const QList<PathField*>& pathFields() const { return paths_; }
    // Null without a detail text.
    QPushButton* detailButton() const { return detailButton_; }
    QPlainTextEdit* detailView() const { return detailView_; }
    void setDetailShown(bool shown);

    // True when every text row shows its whole text; otherwise `problem`
    // says which is cut.
    bool showsWholeText(QString* problem = nullptr) const;

    // Caption, text and detail as the clipboard gets them.
    QString clipboardText() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The width the text rows get: what the longest line needs, at least
    // enough for the caption in the title bar, at most a readable measure.
    int textWidth(const QStringList& runs) const;
    void addRows(QVBoxLayout* column, int measure);

    QString caption_;
    QString text_;
    QString detail_;
    QList<QLabel*> labels_;
    QList<PathField*> paths_;
    QPushButton* detailButton_ = nullptr;
    QPlainTextEdit* detailView_ = nullptr;
};

// The text split into runs of prose and the paths that are wider than
// `width` pixels in `metrics` (each path a run of its own, marked true);
// blanks next to a split-off path are dropped.
QList<QPair<QString, bool>> splitWidePaths(const QString& text, const QFontMetrics& metrics, int width);

}  // namespace kestrel
