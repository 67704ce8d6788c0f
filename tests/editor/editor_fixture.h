// A started editor (the real start-up, shown on the display), input that reaches the 3D
// view's window the way the user's does, and helpers that work the pages' controls.
#pragma once

#include "CGlViewWindow.h"
#include "CMainFrame.h"
#include "CPrompts.h"
#include "CTerrainLightControl.h"
#include "CTerrainMainView.h"
#include "CTerrainMapControl.h"
#include "CTerrainTabMenu.h"
#include "CTerrainTextureControl.h"
#include "CVeldmarkApp.h"
#include "DialogTemplate.h"
#include "KrRenderer.h"
#include "memory_device.h"
#include "resource.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QSplitter>
#include <QTabBar>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) {
    *os << text.toStdString();
}
inline void PrintTo(const D3DXVECTOR3& v, std::ostream* os) {
    *os << '(' << v.x << ", " << v.y << ", " << v.z << ')';
}

// Answers the file dialogs from a queue (an empty answer is a cancel) and keeps the
// messages it is shown.
class FakePrompts : public CPrompts {
public:
    QStringList OpenFiles(QWidget*, const QString&, const QString&, bool) override {
        return answers.isEmpty() ? QStringList() : answers.takeFirst();
    }
    QString SaveFile(QWidget* w, const QString&, const QString&, const QString&) override {
        return OpenFiles(w, {}, {}, false).value(0);
    }
    void Message(QWidget*, const QString& caption, const QString& text) override {
        messages << caption + " | " + text;
    }
    // Answers from saveAnswers; with none left, "취소".
    SaveAnswer AskSave(QWidget*, const QString& caption, const QString& text) override {
        questions << caption + " | " + text;
        return saveAnswers.isEmpty() ? SaveAnswer::Cancel : saveAnswers.takeFirst();
    }

    QList<QStringList> answers;
    QStringList messages;
    QList<SaveAnswer> saveAnswers;
    QStringList questions;
};

class EditorTest : public ::testing::Test {
protected:
    explicit EditorTest(bool useGl = true) : useGl_(useGl) {}

    void SetUp() override {
        savedUseGl_ = CTerrainMainView::useGl;
        CTerrainMainView::useGl = savedUseGl_ && useGl_;
        SetPrompts(&prompts);
        // Park the real cursor off the window: its own moves would otherwise reach the view
        // between the synthetic ones and repoint the pick ray.
        if (QScreen* screen = QGuiApplication::primaryScreen())
            QCursor::setPos(screen->geometry().bottomRight() - QPoint(2, 2));
        app = std::make_unique<CVeldmarkApp>();
        ASSERT_TRUE(app->InitInstance());
        frame = app->mainWnd.get();
        view = frame->mainView;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame));
        if (view->GlWindow()) {
            ASSERT_TRUE(QTest::qWaitForWindowExposed(view->GlWindow()));
        }
        QTest::qWait(150);
    }
    void TearDown() override {
        app.reset();
        SetPrompts(nullptr);
        CTerrainMainView::useGl = savedUseGl_;
    }

    KrCamera& Camera() { return KrRenderer::GetInstance()->camera; }
    KrTerrain* Terrain() const { return view->terrain; }
    QPoint At(double fx, double fy) const {
        return QPoint(int(view->width() * fx), int(view->height() * fy));
    }
    // Input goes the window system's way, synchronously: to the GL window, or without one
    // to the top-level window at the view's point.
    void Mouse(QTest::MouseAction action, Qt::MouseButton button, QPoint p) {
        QWindow* w = view->InputWindow();
        QTest::mouseEvent(action, w, button, {}, w->mapFromGlobal(view->mapToGlobal(p)));
    }
    void Move(QPoint p) { Mouse(QTest::MouseMove, Qt::NoButton, p); }
    void Press(Qt::MouseButton b, QPoint p) { Mouse(QTest::MousePress, b, p); }
    void Release(Qt::MouseButton b, QPoint p) { Mouse(QTest::MouseRelease, b, p); }
    void Key(QTest::KeyAction action, Qt::Key key) {
        if (QWindow* w = view->GlWindow())
            QTest::keyEvent(action, w, key);
        else
            QTest::keyEvent(action, view, key);
    }

    FakePrompts prompts;
    std::unique_ptr<CVeldmarkApp> app;
    CMainFrame* frame = nullptr;
    CTerrainMainView* view = nullptr;

private:
    bool useGl_, savedUseGl_ = true;
};

// The editor on the memory device (which records the light calls), the tab menu wide
// enough for whole pages, and the given tab selected.
class PagesTest : public EditorTest {
protected:
    explicit PagesTest(int tab) : EditorTest(false), tab_(tab) {}

    void SetUp() override {
        EditorTest::SetUp();
        if (HasFatalFailure())
            return;
        tabs = frame->tabMenu;
        frame->resize(1400, 1000);
        frame->splitter->setSizes({700, 700});
        QTest::qWait(50);
        SelectTab(tab_);
        page = tabs->Page(tab_);
    }

    MemoryDevice* Device() const {
        return dynamic_cast<MemoryDevice*>(KrRenderer::GetInstance()->device);
    }
    void SelectTab(int index) {
        QTest::mouseClick(tabs->tabControl, Qt::LeftButton, {},
                          tabs->tabControl->tabRect(index).center());
        QTest::qWait(20);
        ASSERT_EQ(tabs->tabControl->currentIndex(), index);
    }
    template <class T> T* Item(int id) { return DlgItem<T>(page, id); }
    QString Text(int id) { return GetDlgItemText(page, id); }
    void Click(int id) {
        tabs->ensureWidgetVisible(Item<QWidget>(id));
        QTest::mouseClick(Item<QWidget>(id), Qt::LeftButton);
    }
    // Moves a trackbar as a drag does, then lets it repaint, which is when the page copies
    // the position out.
    void SetTrackbar(int id, int position) {
        CTrackBar* trackbar = Item<CTrackBar>(id);
        tabs->ensureWidgetVisible(trackbar);
        trackbar->setSliderDown(true);
        trackbar->setSliderPosition(position);
        trackbar->setSliderDown(false);
        Repaint(trackbar);
    }
    void Repaint(QWidget* widget) {
        widget->repaint();
        QApplication::processEvents();
    }

    const int tab_;
    CTerrainTabMenu* tabs = nullptr;
    QWidget* page = nullptr;
};
