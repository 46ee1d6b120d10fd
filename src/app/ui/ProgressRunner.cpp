#include "app/ui/ProgressRunner.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QScopeGuard>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <deque>
#include <exception>
#include <mutex>

#include "common/Progress.h"
#include "widgets/UiHooks.h"

namespace kestrel {

namespace {

// Shared between the worker (which reports) and the window's thread
// (which polls and shows).
class ThreadedSink : public ProgressSink {
public:
    void progress(std::string_view stage, uint64_t done, uint64_t total) override {
        std::lock_guard lock(mutex_);
        stage_.assign(stage);
        done_ = done;
        total_ = total;
        changed_ = true;
    }
    bool cancelled() const override { return cancel_.load(); }
    void notify(std::string_view caption, std::string_view text) override {
        std::lock_guard lock(mutex_);
        notices_.emplace_back(std::string(caption), std::string(text));
    }

    void requestCancel() { cancel_ = true; }

    // The latest progress, if it changed since the last call.
    bool takeProgress(std::string& stage, uint64_t& done, uint64_t& total) {
        std::lock_guard lock(mutex_);
        if (!changed_) return false;
        changed_ = false;
        stage = stage_;
        done = done_;
        total = total_;
        return true;
    }
    bool takeNotice(std::pair<std::string, std::string>& notice) {
        std::lock_guard lock(mutex_);
        if (notices_.empty()) return false;
        notice = std::move(notices_.front());
        notices_.pop_front();
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::string stage_;
    uint64_t done_ = 0;
    uint64_t total_ = 0;
    bool changed_ = false;
    std::deque<std::pair<std::string, std::string>> notices_;
    std::atomic<bool> cancel_{false};
};

constexpr int kPollMilliseconds = 50;
constexpr int kShowDelayMilliseconds = 300;

}  // namespace

QString stageText(const QString& stage) {
    if (stage == QLatin1String("preprocess")) return QStringLiteral("分词并写入文档");
    if (stage == QLatin1String("index")) return QStringLiteral("建立候选特征索引");
    if (stage == QLatin1String("vectors")) return QStringLiteral("写入文档向量");
    if (stage == QLatin1String("train")) return QStringLiteral("训练SVM模型");
    if (stage == QLatin1String("classify")) return QStringLiteral("分类文档");
    return stage;
}

namespace {

// The dialog of a long step, hidden until the step has run for a moment.
void setUpProgressDialog(QProgressDialog& dialog, const QString& title) {
    dialog.setObjectName(QStringLiteral("progress"));
    dialog.setWindowTitle(title);
    dialog.setLabelText(QStringLiteral("正在进行：%1……").arg(title));
    dialog.setCancelButtonText(QStringLiteral("取消"));
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(std::numeric_limits<int>::max());  // shown by the caller, not by its own timer
    dialog.setRange(0, 0);
    dialog.setMinimumWidth(360);
    dialog.hide();
}

// Shows how far the stage of a step has come.
void showProgress(QProgressDialog& dialog, const QString& title, const std::string& stage, uint64_t done,
                  uint64_t total) {
    // QProgressDialog counts in int; scale large totals.
    const uint64_t scale = total > 1000000 ? total / 1000000 + 1 : 1;
    dialog.setRange(0, static_cast<int>(total / scale));
    dialog.setValue(static_cast<int>(std::min(done, total) / scale));
    const QString what = stageText(QString::fromStdString(stage));
    dialog.setLabelText(total > 0 ? QStringLiteral("%1：%2（%3/%4）").arg(title, what).arg(done).arg(total)
                                  : QStringLiteral("%1：%2……").arg(title, what));
}

}  // namespace

LongStepResult runWithProgress(QWidget* parent, const QString& title,
                               const std::function<bool(ProgressSink&)>& work) {
    ThreadedSink sink;
    LongStepResult result;
    std::string error;
    QThread* thread = QThread::create([&] {
        // Timed on the worker: a message box the step asks for does not stop
        // the work, and the time the person takes to read it is not the step's.
        QElapsedTimer working;
        working.start();
        const auto stopClock = qScopeGuard([&] { result.seconds = working.nsecsElapsed() / 1e9; });
        try {
            result.ok = work(sink);
        } catch (const std::exception& e) {
            result.ok = false;
            error = e.what();
        } catch (...) {
            result.ok = false;
            error = "unknown error";
        }
    });

    QProgressDialog dialog(parent);
    setUpProgressDialog(dialog, title);

    // The dialog stays up until the step has stopped: its own cancel()
    // would hide it, and a window shown again may be placed elsewhere.
    QObject::disconnect(&dialog, SIGNAL(canceled()), &dialog, SLOT(cancel()));
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [&] {
        sink.requestCancel();
        dialog.setLabelText(QStringLiteral("正在取消：%1……").arg(title));
        if (auto* button = dialog.findChild<QPushButton*>()) button->setEnabled(false);
        if (!dialog.isVisible()) dialog.show();
    });

    bool showingNotice = false;
    auto showNotices = [&] {
        if (showingNotice) return;
        showingNotice = true;
        std::pair<std::string, std::string> notice;
        while (sink.takeNotice(notice))
            showMessage(parent, QMessageBox::Information, QString::fromStdString(notice.first),
                        QString::fromStdString(notice.second));
        showingNotice = false;
    };

    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(kPollMilliseconds);
    QObject::connect(&poll, &QTimer::timeout, &dialog, [&] {
        std::string stage;
        uint64_t done = 0, total = 0;
        if (sink.takeProgress(stage, done, total) && !sink.cancelled())
            showProgress(dialog, title, stage, done, total);
        if (!dialog.isVisible() && clock.elapsed() >= kShowDelayMilliseconds) dialog.show();
        showNotices();
    });

    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    poll.start();
    thread->start();
    loop.exec();
    thread->wait();
    delete thread;
    poll.stop();
    dialog.hide();
    showNotices();

    result.cancelled = sink.cancelled();
    result.error = std::move(error);
    return result;
}

}  // namespace kestrel
