#include "app/ui/CKestrelDlg.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QVBoxLayout>

#include "app/ui/CAboutDlg.h"
#include "app/ui/CDlgCM.h"
#include "app/ui/CDlgFS.h"
#include "app/ui/CDlgFT.h"
#include "app/ui/CDlgTT.h"
#include "app/ui/DialogParts.h"
#include "app/ui/ProgressRunner.h"
#include "app/ui/StepIcons.h"
#include "widgets/CButtonST.h"
#include "widgets/CPPToolTip.h"
#include "widgets/UiHooks.h"

#if __has_include("evaluate/ui/CDlgCR.h")
#include "evaluate/ui/CDlgCE.h"
#include "evaluate/ui/CDlgCR.h"
#include "evaluate/ui/CDlgCRE.h"
#include "evaluate/ui/CDlgTP.h"
#define KESTREL_HAVE_RESULT_WINDOWS 1
#endif

namespace kestrel {

namespace {

constexpr int kIconSize = 40;

// What the status area says before the first step.
constexpr const char* kFirstStep = "请从“训练文本”开始：指定训练文档所在的目录及格式，或读取已有分类器。";

CButtonST::Mark markOf(StepState state) {
    switch (state) {
    case StepState::kDone: return CButtonST::Mark::Done;
    case StepState::kNext: return CButtonST::Mark::Next;
    case StepState::kBlocked: return CButtonST::Mark::Blocked;
    default: return CButtonST::Mark::None;
    }
}

}  // namespace

CKestrelDlg::CKestrelDlg(QWidget* parent)
    : CBkDialog(parent), tooltip_(new CPPToolTip(this)), flow_(classifier_, *this) {
    setObjectName(QStringLiteral("CKestrelDlg"));
    setWindowTitle(QStringLiteral("Larkspur"));
    setWindowIcon(QIcon(applicationIcon(64)));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint);

    for (const auto& info : stepButtons()) {
        auto* button = new CButtonST(QString::fromUtf8(info.caption), this);
        button->setObjectName(QString::number(info.id));
        button->setImage(QIcon(stepIcon(info.id, kIconSize)), QSize(kIconSize, kIconSize));
        button->setMinimumSize(84, 76);
        tooltip_->addTool(button, QString::fromStdString(stepTooltip(info)));
        const int id = info.id;
        connect(button, &CButtonST::clicked, this, [this, id] { press(id); });
        buttons_[id] = button;
    }

    auto* training = new QGroupBox(QStringLiteral("训练过程"), this);
    training->setObjectName(QStringLiteral("training"));
    auto* trainingRow = new QHBoxLayout(training);
    for (int id : {kStepTrainingText, kStepPreprocess, kStepIndex, kStepSelect, kStepMethod})
        trainingRow->addWidget(buttons_[id]);

    auto* classification = new QGroupBox(QStringLiteral("分类过程"), this);
    classification->setObjectName(QStringLiteral("classification"));
    auto* classificationRow = new QHBoxLayout(classification);
    for (int id : {kStepRawText, kStepIntermediate, kStepClassify}) classificationRow->addWidget(buttons_[id]);
    classificationRow->addStretch();

    auto* results = new QVBoxLayout;
    for (int id : {kStepRepresentation, kStepEvaluate, kStepResults}) results->addWidget(buttons_[id]);
    results->addStretch();

    // The outcome of the last step, under the buttons.
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("status"));
    status_->setFrameShape(QFrame::StyledPanel);
    status_->setFrameShadow(QFrame::Sunken);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setMinimumHeight(2 * status_->fontMetrics().height() + 8);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto* layout = new QGridLayout(this);
    layout->addWidget(training, 0, 0);
    layout->addWidget(classification, 1, 0);
    layout->addLayout(results, 0, 1, 2, 1);
    layout->addWidget(status_, 2, 0, 1, 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    refreshState();

    auto* about = new QShortcut(QKeySequence::HelpContents, this);
    connect(about, &QShortcut::activated, this, &CKestrelDlg::showAbout);
}

CKestrelDlg::~CKestrelDlg() = default;

CButtonST* CKestrelDlg::button(int id) const {
    const auto it = buttons_.find(id);
    return it == buttons_.end() ? nullptr : it->second;
}

void CKestrelDlg::press(int id) {
    // A long step runs its own event loop; a press meanwhile must not start
    // another step on the same controller.
    if (busy_) return;
    flow_.press(id);
    refreshState();
}

void CKestrelDlg::refreshState() {
    for (const auto& [id, button] : buttons_) button->setMark(markOf(flow_.state(id)));
    const std::string& outcome = flow_.outcome();
    status_->setText(outcome.empty() ? QString::fromUtf8(kFirstStep) : QString::fromStdString(outcome));
}

void CKestrelDlg::showAbout() {
    CAboutDlg about(this);
    runDialog(about);
}

// Enter and Escape would close a dialog; the main window closes only
// through its close button.
void CKestrelDlg::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape: event->accept(); return;
    default: CBkDialog::keyPressEvent(event);
    }
}

void CKestrelDlg::closeEvent(QCloseEvent* event) {
    if (busy_) {
        event->ignore();
        return;
    }
    CBkDialog::closeEvent(event);
}

// Linux window managers offer no system menu to extend, so the About item
// lives in the window's context menu (and on F1).
void CKestrelDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addSeparator();
    menu.addAction(QStringLiteral("关于 Kestrel(&A)..."), this, &CKestrelDlg::showAbout);
    menu.exec(event->globalPos());
}

bool CKestrelDlg::runTrainingTextDialog(TrainingTextModel& model) {
    CDlgTT dialog(model, this);
    return runDialog(dialog) == QDialog::Accepted;
}

bool CKestrelDlg::runRawTextDialog(RawTextModel& model) {
    CDlgFT dialog(model, this);
    return runDialog(dialog) == QDialog::Accepted;
}

bool CKestrelDlg::runFeatureSelectionDialog(FeatureSelectionModel& model) {
    CDlgFS dialog(model, this);
    return runDialog(dialog) == QDialog::Accepted;
}

bool CKestrelDlg::runMethodDialog(MethodModel& model) {
    CDlgCM dialog(model, this);
    return runDialog(dialog) == QDialog::Accepted;
}

LongStepResult CKestrelDlg::runLongStep(const std::string& title, const std::function<bool(ProgressSink&)>& work) {
    busy_ = true;
    const auto result = runWithProgress(this, QString::fromStdString(title), work);
    busy_ = false;
    return result;
}

void CKestrelDlg::showWarning(const StepMessage& message) { showStepMessage(this, message); }

void CKestrelDlg::openResults(int vectorMode) {
#ifdef KESTREL_HAVE_RESULT_WINDOWS
    if (vectorMode == kTestVectors) {
        CDlgCR dialog(classifier_, this);
        runDialog(dialog);
    } else {
        CDlgCRE dialog(classifier_, this);
        runDialog(dialog);
    }
#else
    (void)vectorMode;
#endif
}

void CKestrelDlg::openEvaluation() {
#ifdef KESTREL_HAVE_RESULT_WINDOWS
    CDlgCE dialog(classifier_, this);
    runDialog(dialog);
#endif
}

void CKestrelDlg::openTextRepresentation() {
#ifdef KESTREL_HAVE_RESULT_WINDOWS
    CDlgTP dialog(classifier_, this);
    runDialog(dialog);
#endif
}

}  // namespace kestrel
