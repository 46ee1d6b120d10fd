#include "widgets/MessageDialog.h"

#include <QApplication>
#include <QClipboard>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "widgets/PathField.h"
#include "widgets/TextFit.h"

namespace kestrel {

namespace {

// Text narrower than this looks lost beside the icon; wider than the
// measure it is hard to read, so it wraps.
constexpr int kMinTextWidth = 220;
constexpr int kMeasure = 560;
// What a title bar takes beside its caption: the window's icon and buttons.
constexpr int kTitleBarExtra = 150;
// The detail text shows at most this many lines before it scrolls.
constexpr int kDetailLines = 12;

QStyle::StandardPixmap standardIcon(QMessageBox::Icon icon) {
    switch (icon) {
    case QMessageBox::Information: return QStyle::SP_MessageBoxInformation;
    case QMessageBox::Critical: return QStyle::SP_MessageBoxCritical;
    case QMessageBox::Question: return QStyle::SP_MessageBoxQuestion;
    default: return QStyle::SP_MessageBoxWarning;
    }
}

// A path begins with '/' at the start of a line or after a blank or an
// opening mark. Directory names may hold blanks, so it runs to the end of
// the line, or to what follows a path in a message: a colon and a blank, a
// full-width colon, comma or stop, or a quotation mark.
const QRegularExpression& pathPattern() {
    static const QRegularExpression pattern(
        QStringLiteral("(?:^|(?<=[\\s：（(“\"'「]))/[^\\n：，；。“”\"'「」]*?(?=$|: |[\\n：，；。“”\"'「」])"),
        QRegularExpression::MultilineOption);
    return pattern;
}

// A colon, comma or full stop right after a path, or a closing bracket it
// does not open, is not part of it.
QString withoutTrailingPunctuation(QString path) {
    while (path.size() > 1) {
        const QChar last = path.back();
        const bool unopened = (last == QLatin1Char(')') && path.count(QLatin1Char('(')) < path.count(last)) ||
                              (last == QChar(0xFF09) && path.count(QChar(0xFF08)) < path.count(last));
        if (!unopened && !last.isSpace() && !QStringLiteral(".,:;").contains(last)) break;
        path.chop(1);
    }
    return path;
}

QLabel* makeTextRow(const QString& text, int width, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setFixedWidth(width);
    label->setMinimumHeight(label->heightForWidth(width));
    return label;
}

}  // namespace

QList<QPair<QString, bool>> splitWidePaths(const QString& text, const QFontMetrics& metrics, int width) {
    QList<QPair<QString, bool>> runs;
    QString prose;
    auto flushProse = [&] {
        // Blanks and line breaks next to a path that went to its own row.
        while (!prose.isEmpty() && prose.back().isSpace()) prose.chop(1);
        if (!prose.isEmpty()) runs.append(qMakePair(prose, false));
        prose.clear();
    };
    qsizetype at = 0;
    for (auto it = pathPattern().globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString path = withoutTrailingPunctuation(match.captured());
        if (path.size() < 2 || metrics.horizontalAdvance(path) <= width) continue;
        prose += text.mid(at, match.capturedStart() - at);
        flushProse();
        runs.append(qMakePair(path, true));
        at = match.capturedStart() + path.size();
        while (at < text.size() && text[at].isSpace()) ++at;
    }
    prose += text.mid(at);
    flushProse();
    return runs;
}

MessageDialog::MessageDialog(QMessageBox::Icon icon, const QString& caption, const QString& text,
                             const QString& detail, QWidget* parent)
    : QDialog(parent), caption_(caption), text_(text), detail_(detail) {
    setObjectName(QStringLiteral("message"));
    setWindowTitle(caption);
    ensurePolished();

    auto* iconLabel = new QLabel(this);
    iconLabel->setObjectName(QStringLiteral("icon"));
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    iconLabel->setPixmap(style()->standardIcon(standardIcon(icon), nullptr, this).pixmap(iconSize, iconSize));
    iconLabel->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    const int screenWidth = (parent ? parent->screen() : screen())->availableGeometry().width();
    const int measure = std::max(kMinTextWidth, std::min(kMeasure, screenWidth / 2));
    addRows(column, measure);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    // Focus on OK, not on a path field, which would then show itself whole.
    ok->setFocus();
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(12);
    grid->addWidget(iconLabel, 0, 0, Qt::AlignTop);
    grid->addLayout(column, 0, 1);
    // Room the details need beyond the text goes to the text's column.
    grid->setColumnStretch(1, 1);
    grid->addWidget(buttons, 1, 0, 1, 2);
    if (!detail.isEmpty()) {
        detailButton_ = buttons->addButton(QStringLiteral("显示详情..."), QDialogButtonBox::ActionRole);
        detailButton_->setObjectName(QStringLiteral("details"));
        detailButton_->setAutoDefault(false);
        connect(detailButton_, &QPushButton::clicked, this, [this] { setDetailShown(!detailView_->isVisible()); });
        detailView_ = new QPlainTextEdit(detail, this);
        detailView_->setObjectName(QStringLiteral("detail"));
        detailView_->setReadOnly(true);
        const int lines = std::min<int>(kDetailLines, static_cast<int>(detail.count(QLatin1Char('\n'))) + 2);
        detailView_->setFixedHeight(lines * detailView_->fontMetrics().lineSpacing() + 12);
        // As wide as its longest line, up to the measure beside the icon.
        int widest = 0;
        for (const QString& line : detail.split(QLatin1Char('\n')))
            widest = std::max(widest, detailView_->fontMetrics().horizontalAdvance(line));
        detailView_->setMinimumWidth(std::min(widest + 24, measure + iconSize + 12));
        detailView_->hide();
        grid->addWidget(detailView_, 2, 0, 1, 2);
    }
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

int MessageDialog::textWidth(const QStringList& runs) const {
    const QFontMetrics metrics = fontMetrics();
    int needed = 0;
    for (const QString& run : runs)
        for (const QString& line : run.split(QLatin1Char('\n')))
            needed = std::max(needed, metrics.horizontalAdvance(line) + 1);
    // The caption stays whole in the title bar: the box is at least as wide
    // as the caption, the program's name the window system adds to it, and
    // the title bar's buttons.
    QString title = caption_;
    const QString program = QGuiApplication::applicationDisplayName();
    if (!program.isEmpty() && program != caption_) title += QStringLiteral(" — ") + program;
    const int iconColumn = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this) + 12;
    const QMargins margins = contentsMargins() + QMargins(11, 11, 11, 11);
    const int forCaption = metrics.horizontalAdvance(title) + kTitleBarExtra - iconColumn - margins.left() -
                           margins.right();
    return std::max({needed, forCaption, kMinTextWidth});
}

void MessageDialog::addRows(QVBoxLayout* column, int measure) {
    const auto runs = splitWidePaths(text_, fontMetrics(), measure);
    QStringList prose;
    bool paths = false;
    for (const auto& [run, isPath] : runs) {
        if (isPath) paths = true;
        else prose << run;
    }
    // A path of its own is wider than the measure: it gets all of it.
    const int width = paths ? measure : std::min(measure, textWidth(prose));
    for (const auto& [run, isPath] : runs) {
        if (isPath) {
            auto* field = new PathField(run, this);
            field->setFixedWidth(width);
            paths_ << field;
            column->addWidget(field, 0, Qt::AlignLeft);
        } else {
            QLabel* label = makeTextRow(run, width, this);
            labels_ << label;
            column->addWidget(label, 0, Qt::AlignLeft);
        }
    }
    // An empty message still gets its (empty) text row.
    if (runs.isEmpty()) {
        labels_ << makeTextRow(QString(), width, this);
        column->addWidget(labels_.back());
    }
    column->addStretch();
}

void MessageDialog::setDetailShown(bool shown) {
    if (!detailView_) return;
    detailView_->setVisible(shown);
    detailButton_->setText(shown ? QStringLiteral("隐藏详情...") : QStringLiteral("显示详情..."));
}

bool MessageDialog::showsWholeText(QString* problem) const {
    for (const QLabel* label : labels_)
        if (!labelShowsWholeText(*label, problem)) return false;
    return true;
}

QString MessageDialog::clipboardText() const {
    QString text = caption_ + QStringLiteral("\n\n") + text_;
    if (!detail_.isEmpty()) text += QStringLiteral("\n\n") + detail_;
    return text;
}

void MessageDialog::keyPressEvent(QKeyEvent* event) {
    // A selection in a row copies itself; otherwise the whole message.
    if (event->matches(QKeySequence::Copy)) {
        QApplication::clipboard()->setText(clipboardText());
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace kestrel
