// The application shell: menu, splitter and the idle-driven frame loop.
#include "editor_fixture.h"

#include <QMenu>
#include <QMenuBar>

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
                   "불러오기(&L)\tCtrl+O:32777|텍스쳐 불러오기(&L):32772|끝내기(&X):57665",
                   "편집(&E)|-실행 취소(&U)\tCtrl+Z:57643|-다시 실행(&R)\tCtrl+Y:57644|---|"
                   "-잘라내기(&T)\tCtrl+X:57635|-복사(&C)\tCtrl+C:57634|"
                   "-붙여넣기(&P)\tCtrl+V:57637",
                   "보기(&V)|상태 표시줄(&S):59393", "도움말(&H)|Veldmark 정보(&A)...:57664"}));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("제목 없음 - Veldmark"));
    EXPECT_EQ(frame->splitter->widget(0), frame->mainView);
    EXPECT_EQ(frame->splitter->sizes(), QList<int>({1024, 100}));
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
