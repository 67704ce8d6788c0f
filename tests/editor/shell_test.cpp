// The application shell: menu, splitter and the idle-driven frame loop.
#include "editor_fixture.h"

#include "CAboutDlg.h"

#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>

TEST_F(EditorTest, MenuAndSplitter) {
    // Each popup as "title|item:id|...", "-" before a disabled item, "---" a separator.
    QStringList menus;
    for (QAction* popup : frame->menuBar()->actions()) {
        QStringList parts{popup->text()};
        for (QAction* item : popup->menu()->actions())
            parts << (item->isSeparator() ? QStringLiteral("---")
                                          : (item->isEnabled() ? "" : "-") + item->text() + ':' +
                                                QString::number(item->data().toInt()));
        menus << parts.join('|');
    }
    EXPECT_EQ(menus,
              QStringList(
                  {"파일(&F)|저장(&S)\tCtrl+S:32774|다른 이름으로 저장(&A)...\tCtrl+Shift+S:57604|"
                   "불러오기(&L)\tCtrl+O:32777|텍스쳐 불러오기(&L):32772|---|"
                   "높이맵 가져오기(&I)...:32790|높이맵 내보내기(&E)...:32791|---|"
                   "끝내기(&X):57665",
                   "편집(&E)|-실행 취소(&U)\tCtrl+Z:57643|-다시 실행(&R)\tCtrl+Y:57644|---|"
                   "-잘라내기(&T)\tCtrl+X:57635|-복사(&C)\tCtrl+C:57634|"
                   "-붙여넣기(&P)\tCtrl+V:57637",
                   "보기(&V)|상태 표시줄(&S):59393", "도움말(&H)|Veldmark 정보(&A)...:57664"}));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("제목 없음 - Veldmark"));
    EXPECT_EQ(frame->splitter->widget(0), frame->mainView);
}

// The view starts 1024 wide with the whole map page beside it, across and down; a wider
// window widens the view only. The window and the About box show the icon.
TEST_F(EditorTest, TheWindowStartsWithTheWholeMapPageAndItsIcon) {
    CTerrainTabMenu* pane = frame->tabMenu;
    const QList<int> start = frame->splitter->sizes();
    EXPECT_EQ(start[0], 1024);
    EXPECT_GE(pane->viewport()->width(), pane->form->width());
    EXPECT_FALSE(pane->horizontalScrollBar()->isVisible());
    EXPECT_FALSE(pane->verticalScrollBar()->isVisible());
    const QRect page = pane->mapPage->geometry();
    EXPECT_LE(page.right(), pane->viewport()->width());
    EXPECT_LE(page.bottom(), pane->viewport()->height());

    frame->resize(frame->width() + 200, frame->height());
    QTest::qWait(50);
    EXPECT_EQ(frame->splitter->sizes(), QList<int>({start[0] + 200, start[1]}));

    EXPECT_FALSE(frame->windowIcon().pixmap(32, 32).isNull());
    CAboutDlg about(frame);
    const auto labels = about.findChildren<QLabel*>();
    EXPECT_TRUE(
        std::any_of(labels.begin(), labels.end(), [](QLabel* l) { return !l->pixmap().isNull(); }));
}

// Qt's own dialogs speak the window's language.
TEST_F(EditorTest, QtDialogsAndButtonsAreKorean) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("t"), QStringLiteral("x"),
                    QMessageBox::Ok | QMessageBox::Cancel, frame);
    EXPECT_EQ(box.button(QMessageBox::Ok)->text(), QStringLiteral("확인"));
    EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("취소"));
    QFileDialog dialog(frame);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const auto buttons = dialog.findChildren<QPushButton*>();
    EXPECT_TRUE(std::any_of(buttons.begin(), buttons.end(),
                            [](QPushButton* b) { return b->text() == QStringLiteral("취소"); }));
}

namespace {
// Notes the frame count at each message the application sees, by the idle loop's rule.
struct MessageProbe : QObject {
    explicit MessageProbe(CTerrainMainView* v) : view(v) { qApp->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override {
        if (rule.IsIdleMessage(event))
            framesAtLastMessage = view->framesDrawn;
        return false;
    }
    CTerrainMainView* view;
    CIdleDriver rule{nullptr};
    long framesAtLastMessage = -1;
};
} // namespace

TEST_F(EditorTest, IdleLoopDrawsTwoFramesAfterEachBurstThenSleeps) {
    MessageProbe probe(view);
    QTest::qWait(300);
    long frames = view->framesDrawn;
    QTest::qWait(200);
    EXPECT_EQ(view->framesDrawn, frames);
    EXPECT_TRUE(app->idle.Sleeping());

    Move(At(0.3, 0.3));
    Move(At(0.31, 0.3));
    QTest::qWait(200);
    EXPECT_EQ(view->framesDrawn - probe.framesAtLastMessage, 2);
    EXPECT_TRUE(app->idle.Sleeping());
    // A move to the same point is no message; a paint request neither.
    frames = view->framesDrawn;
    Move(At(0.31, 0.3));
    view->update();
    frame->update();
    QTest::qWait(200);
    EXPECT_EQ(view->framesDrawn, frames);
}
