// Runs the application's idle handler the way a Windows message loop does: after each
// burst of messages it calls OnIdle(0), OnIdle(1), ... for as long as the handler asks for
// more, then sleeps until the next message. Paint requests, timers and mouse moves that do
// not move the cursor are not messages in this sense, so they do not wake it.
#pragma once

#include <QBasicTimer>
#include <QObject>
#include <QPointF>

#include <functional>

class QEvent;

class CIdleDriver : public QObject {
public:
    // onIdle(count) returns whether it wants another idle call.
    explicit CIdleDriver(std::function<bool(long)> onIdle);
    ~CIdleDriver() override;

    // Starts watching the application's events and schedules the first idle calls.
    void Start();
    void Stop();

    // Starts idle processing afresh, as a message would.
    void Wake();

    // Whether this event restarts idle processing.
    bool IsIdleMessage(const QEvent* event);

    bool Sleeping() const { return !timer_.isActive(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    std::function<bool(long)> onIdle_;
    QBasicTimer timer_;
    long count_ = 0;
    bool started_ = false;
    QPointF lastCursor_{-1e9, -1e9};
};
