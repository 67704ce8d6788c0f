#include "CIdleDriver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QTimerEvent>

CIdleDriver::CIdleDriver(std::function<bool(long)> onIdle) : onIdle_(std::move(onIdle)) {}

CIdleDriver::~CIdleDriver() {
    Stop();
}

void CIdleDriver::Start() {
    if (!started_ && QCoreApplication::instance())
        QCoreApplication::instance()->installEventFilter(this);
    started_ = true;
    Wake();
}

void CIdleDriver::Stop() {
    if (started_ && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    started_ = false;
    timer_.stop();
}

void CIdleDriver::Wake() {
    count_ = 0;
    if (!timer_.isActive())
        timer_.start(0, this);
}

bool CIdleDriver::IsIdleMessage(const QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseMove: {
        // A mouse move is seen once per receiver it propagates through; only a new cursor
        // position counts.
        QPointF at = static_cast<const QMouseEvent*>(event)->globalPosition();
        if (at == lastCursor_)
            return false;
        lastCursor_ = at;
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Shortcut:
    case QEvent::InputMethod:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::Enter:
    case QEvent::Leave:
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Close:
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::WindowStateChange:
    case QEvent::ContextMenu:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        return true;
    default:
        return false;
    }
}

bool CIdleDriver::eventFilter(QObject* watched, QEvent* event) {
    if (IsIdleMessage(event))
        Wake();
    return QObject::eventFilter(watched, event);
}

void CIdleDriver::timerEvent(QTimerEvent* event) {
    if (event->timerId() != timer_.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    // The handler may wake the driver again (or stop it) from inside; count_ is read
    // after the call so a wake-up starts the count afresh.
    long count = count_++;
    bool more = onIdle_ && onIdle_(count);
    if (!more && count_ == count + 1)
        timer_.stop();
}
