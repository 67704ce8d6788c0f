#include "CLongOperation.h"

#include "CMainFrame.h"
#include "CVeldmarkApp.h"
#include "res/shell_resources.h"
#include "resource.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <atomic>
#include <chrono>
#include <future>
#include <new>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Work done within this wait never spins the event loop: short operations stay as direct
// as they were, with nothing on screen but the busy cursor.
constexpr auto kQuickWait = 50ms;
// The dialog shows once the work has taken this long (or sooner when the bar says it will
// take long), so short operations do not flash one.
constexpr int kShowAfterMs = 400;
// How often the bar moves and the view draws a frame while work runs.
constexpr int kTickMs = 40;
constexpr int kBarSteps = 1000;

struct Shared {
    bool running = false;
    bool cancellable = false;
    std::atomic<bool> cancel{false};
    std::atomic<float> fraction{0.0f};
    std::atomic<int> stepDelayMs{0};
    QPointer<QWidget> closeAfter;
};

Shared& State() {
    static Shared shared;
    return shared;
}

// A progress dialog that cannot be closed or escaped from when its work cannot stop.
class CProgressDialog : public QProgressDialog {
public:
    CProgressDialog(QWidget* parent, const QString& label, bool cancellable)
        : QProgressDialog(parent), cancellable_(cancellable) {
        setWindowTitle(LoadResString(AFX_IDS_APP_TITLE));
        setLabelText(label);
        setRange(0, kBarSteps);
        setAutoReset(false);
        setAutoClose(false);
        setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
        if (cancellable)
            setCancelButtonText(QStringLiteral("취소"));
        else
            setCancelButton(nullptr);
        setMinimumDuration(kShowAfterMs);
        setMinimumWidth(360);
    }

    void reject() override {
        if (cancellable_)
            QProgressDialog::reject();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        if (cancellable_)
            QProgressDialog::closeEvent(event);
        else
            event->ignore();
    }

private:
    bool cancellable_;
};

// Swallows presses, keys and wheel turns everywhere but in the progress dialog.
class InputBlocker : public QObject {
public:
    explicit InputBlocker(QWidget* allowed) : allowed_(allowed) { qApp->installEventFilter(this); }
    ~InputBlocker() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TabletPress:
        case QEvent::TouchBegin:
        case QEvent::Drop:
            return !InDialog(watched);
        default:
            return false;
        }
    }

private:
    bool InDialog(QObject* watched) const {
        if (!allowed_)
            return false;
        if (auto* widget = qobject_cast<QWidget*>(watched))
            return widget == allowed_ || allowed_->isAncestorOf(widget);
        if (auto* window = qobject_cast<QWindow*>(watched))
            return window == allowed_->windowHandle();
        return false;
    }

    QPointer<QWidget> allowed_;
};

QWidget* DialogParent() {
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    return GetMainFrame();
}

} // namespace

bool CLongOperation::Running() {
    return State().running;
}

void CLongOperation::SetStepDelay(int milliseconds) {
    State().stepDelayMs = milliseconds;
}

bool CLongOperation::DeferClose(QWidget* window) {
    Shared& s = State();
    if (!s.running)
        return false;
    s.closeAfter = window;
    if (s.cancellable)
        s.cancel = true;
    return true;
}

CLongOperation::Outcome CLongOperation::Run(const QString& label, bool cancellable,
                                            const Work& work, std::string* error) {
    Shared& s = State();
    if (s.running) {
        if (error)
            *error = "다른 작업이 아직 끝나지 않았습니다";
        return Outcome::Failed;
    }
    s.running = true;
    s.cancellable = cancellable;
    s.cancel = false;
    s.fraction = 0.0f;
    QApplication::setOverrideCursor(Qt::BusyCursor);

    const KrProgress progress{[&s](float fraction) {
                                  if (const int ms = s.stepDelayMs.load())
                                      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
                                  s.fraction = fraction;
                              },
                              &s.cancel};
    std::string reason;
    std::future<bool> done = std::async(std::launch::async, [&]() -> bool {
        try {
            progress.Report(0.0f);
            return work(progress, &reason);
        } catch (const std::bad_alloc&) {
            reason = "메모리가 부족합니다";
            return false;
        }
    });

    if (done.wait_for(kQuickWait) != std::future_status::ready) {
        CProgressDialog dialog(DialogParent(), label, cancellable);
        InputBlocker blocker(&dialog);
        QObject::connect(&dialog, &QProgressDialog::canceled, [&s] { s.cancel = true; });
        QEventLoop loop;
        QTimer tick;
        tick.setInterval(kTickMs);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            if (done.wait_for(0s) == std::future_status::ready) {
                loop.quit();
                return;
            }
            // A cancelled dialog has hidden itself; a new value would show it again.
            if (!s.cancel)
                dialog.setValue(static_cast<int>(s.fraction.load() * kBarSteps));
            // The idle loop sleeps without input: wake it for a frame.
            if (CVeldmarkApp* app = CVeldmarkApp::Instance())
                app->idle.Wake();
        });
        tick.start();
        loop.exec();
        tick.stop();
        dialog.hide();
    }
    const bool succeeded = done.get();
    const bool cancelled = !succeeded && s.cancel && reason == kPreparationCancelled;

    QApplication::restoreOverrideCursor();
    s.running = false;
    s.cancel = false;
    // The idle loop slept through the work's last ticks; the result is drawn (and the
    // terrain updated) without waiting for the next input.
    if (CVeldmarkApp* app = CVeldmarkApp::Instance())
        app->idle.Wake();
    if (QPointer<QWidget> window = s.closeAfter) {
        s.closeAfter = nullptr;
        QTimer::singleShot(0, window, [window] {
            if (window)
                window->close();
        });
    }
    if (!succeeded && error)
        *error = reason;
    return succeeded ? Outcome::Done : cancelled ? Outcome::Cancelled : Outcome::Failed;
}
