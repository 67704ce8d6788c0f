// A started editor (the real start-up, shown on the display) and input helpers that reach
// the 3D view's window the way the user's input does.
#pragma once

#include "CGlViewWindow.h"
#include "CMainFrame.h"
#include "CPrompts.h"
#include "CTerrainMainView.h"
#include "CTerrainTabMenu.h"
#include "CVeldmarkApp.h"
#include "KrRenderer.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <ostream>

// gtest prints QStrings as text.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// Answers the file dialogs from a queue (an empty answer is a cancel) and keeps the
// messages it is shown.
class FakePrompts : public CPrompts {
public:
    QStringList OpenFiles(QWidget*, const QString&, const QString& filter, bool multiple) override {
        lastFilter = filter;
        lastMultiple = multiple;
        return Next();
    }
    QString SaveFile(QWidget*, const QString&, const QString& filter,
                     const QString& suffix) override {
        lastFilter = filter;
        lastSuffix = suffix;
        QStringList answer = Next();
        return answer.isEmpty() ? QString() : answer.first();
    }
    void Message(QWidget*, const QString& caption, const QString& text) override {
        messages << caption + QStringLiteral(" | ") + text;
    }

    std::deque<QStringList> answers;
    QStringList messages;
    QString lastFilter, lastSuffix;
    bool lastMultiple = false;

private:
    QStringList Next() {
        if (answers.empty())
            return {};
        QStringList answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetPrompts(&prompts);
        // Park the real cursor off the window: its own moves would otherwise reach the view
        // between the synthetic ones and repoint the pick ray.
        if (QScreen* screen = QGuiApplication::primaryScreen())
            QCursor::setPos(screen->geometry().bottomRight() - QPoint(2, 2));
        app = std::make_unique<CVeldmarkApp>();
        ASSERT_TRUE(app->InitInstance());
        frame = app->mainWnd.get();
        ASSERT_NE(frame, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
        view = frame->mainView;
        ASSERT_NE(view, nullptr);
        if (view->GlWindow()) {
            ASSERT_TRUE(QTest::qWaitForWindowExposed(view->GlWindow()));
        }
        QTest::qWait(150);
    }

    void TearDown() override {
        app.reset();
        SetPrompts(nullptr);
    }

    KrCamera& Camera() { return KrRenderer::GetInstance()->camera; }

    // The view's centre and other points in its client coordinates.
    QPoint At(double fx, double fy) const {
        return QPoint(int(view->width() * fx), int(view->height() * fy));
    }

    // Mouse input goes through the window system's path, synchronously: to the GL window,
    // or to the top-level window at the view's point when there is no GL window.
    QWindow* MouseWindow(QPoint* p) const {
        if (QWindow* w = view->GlWindow())
            return w;
        QWindow* top = view->window()->windowHandle();
        *p = top->mapFromGlobal(view->mapToGlobal(*p));
        return top;
    }
    void Move(QPoint p) {
        QWindow* w = MouseWindow(&p);
        QTest::mouseMove(w, p);
    }
    void Press(Qt::MouseButton b, QPoint p) {
        QWindow* w = MouseWindow(&p);
        QTest::mousePress(w, b, {}, p);
    }
    void Release(Qt::MouseButton b, QPoint p) {
        QWindow* w = MouseWindow(&p);
        QTest::mouseRelease(w, b, {}, p);
    }
    void KeyDown(Qt::Key key) {
        if (QWindow* w = view->GlWindow())
            QTest::keyPress(w, key);
        else
            QTest::keyPress(view, key);
    }
    void KeyUp(Qt::Key key) {
        if (QWindow* w = view->GlWindow())
            QTest::keyRelease(w, key);
        else
            QTest::keyRelease(view, key);
    }

    FakePrompts prompts;
    std::unique_ptr<CVeldmarkApp> app;
    CMainFrame* frame = nullptr;
    CTerrainMainView* view = nullptr;
};
