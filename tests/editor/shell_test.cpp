// The application shell: menu, status bar, splitter and the idle-driven frame loop.
#include "editor_fixture.h"

#include "CChildView.h"
#include "resource.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>

namespace {

struct ExpectedItem {
    const char* text; // null: separator
    int id;
    bool enabled;
};

struct ExpectedPopup {
    const char* title;
    std::vector<ExpectedItem> items;
};

} // namespace

TEST_F(EditorTest, MenuHasItsLabelsIdsAndDisabledEditItems) {
    const std::vector<ExpectedPopup> expected = {
        {"파일(&F)",
         {{"저장(&S)", 32774, true},
          {"불러오기(&L)", 32777, true},
          {"텍스쳐 불러오기(&L)", 32772, true},
          {"끝내기(&X)", 57665, true}}},
        {"편집(&E)",
         {{"실행 취소(&U)\tCtrl+Z", 57643, false},
          {nullptr, 0, false},
          {"잘라내기(&T)\tCtrl+X", 57635, false},
          {"복사(&C)\tCtrl+C", 57634, false},
          {"붙여넣기(&P)\tCtrl+V", 57637, false}}},
        {"보기(&V)", {{"상태 표시줄(&S)", 59393, true}}},
        {"도움말(&H)", {{"Veldmark 정보(&A)...", 57664, true}}},
    };
    const QList<QAction*> popups = frame->menuBar()->actions();
    ASSERT_EQ(popups.size(), qsizetype(expected.size()));
    for (size_t p = 0; p < expected.size(); ++p) {
        SCOPED_TRACE(expected[p].title);
        EXPECT_EQ(popups[p]->text(), QString::fromUtf8(expected[p].title));
        ASSERT_NE(popups[p]->menu(), nullptr);
        const QList<QAction*> items = popups[p]->menu()->actions();
        ASSERT_EQ(items.size(), qsizetype(expected[p].items.size()));
        for (qsizetype i = 0; i < items.size(); ++i) {
            const ExpectedItem& want = expected[p].items[i];
            if (!want.text) {
                EXPECT_TRUE(items[i]->isSeparator());
                continue;
            }
            EXPECT_EQ(items[i]->text(), QString::fromUtf8(want.text));
            EXPECT_EQ(items[i]->data().toInt(), want.id);
            EXPECT_EQ(items[i]->isEnabled(), want.enabled) << want.text;
        }
    }
    // The edit accelerators reach no handler.
    for (int id : {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE})
        EXPECT_FALSE(frame->OnCmdMsg(id)) << id;

    EXPECT_EQ(frame->windowTitle(), QStringLiteral("Veldmark"));
    EXPECT_FALSE(frame->windowIcon().isNull());
}

TEST_F(EditorTest, FrameLayoutStatusBarAndSplitter) {
    // Four status panes, the first one saying ready.
    ASSERT_NE(frame->indicators[0], nullptr);
    EXPECT_EQ(frame->indicators[0]->text(), QStringLiteral("준비"));
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(frame->indicators[i]->parentWidget(), frame->statusBar());
    EXPECT_EQ(frame->statusBar()->property("controlId").toInt(), AFX_IDW_STATUS_BAR);

    // The panes start at 1024 and 100 pixels; the view is the left pane, the tab menu the
    // right one.
    ASSERT_NE(frame->splitter, nullptr);
    EXPECT_EQ(frame->splitter->widget(0), frame->mainView);
    EXPECT_EQ(frame->splitter->widget(1), static_cast<QWidget*>(frame->tabMenu));
    EXPECT_EQ(frame->splitter->sizes(), QList<int>({1024, 100}));
    EXPECT_EQ(view->width(), 1024);

    // Dragging the bar moves the boundary.
    QSplitterHandle* handle = frame->splitter->handle(1);
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip - QPoint(200, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(200, 0));
    EXPECT_EQ(frame->splitter->sizes()[0], 824);

    // Hiding the status bar gives its height to the splitter and clears the check mark.
    const int before = frame->splitter->height();
    EXPECT_TRUE(frame->OnCmdMsg(ID_VIEW_STATUS_BAR));
    QTest::qWait(50);
    EXPECT_FALSE(frame->statusBar()->isVisible());
    EXPECT_FALSE(frame->CommandAction(ID_VIEW_STATUS_BAR)->isChecked());
    EXPECT_GT(frame->splitter->height(), before);
    EXPECT_TRUE(frame->OnCmdMsg(ID_VIEW_STATUS_BAR));
    EXPECT_TRUE(frame->statusBar()->isVisible());
    EXPECT_TRUE(frame->CommandAction(ID_VIEW_STATUS_BAR)->isChecked());

    // The leftover child is there, empty, and holds the focus after start-up.
    ASSERT_NE(frame->childView, nullptr);
    EXPECT_EQ(frame->childView->size(), QSize(0, 0));
    EXPECT_EQ(frame->focusWidget(), static_cast<QWidget*>(frame->childView));
}

namespace {
// Notes the frame count at each message the application sees, by the idle loop's rule.
class MessageProbe : public QObject {
public:
    explicit MessageProbe(CTerrainMainView* view) : view_(view) { qApp->installEventFilter(this); }
    ~MessageProbe() override { qApp->removeEventFilter(this); }
    long framesAtLastMessage = -1;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (rule_.IsIdleMessage(event))
            framesAtLastMessage = view_->framesDrawn;
        return false;
    }

private:
    CTerrainMainView* view_;
    CIdleDriver rule_{nullptr};
};
} // namespace

TEST_F(EditorTest, IdleLoopDrawsTwoFramesAfterEachBurstThenSleeps) {
    MessageProbe probe(view);
    QTest::qWait(300);
    // Asleep: nothing is drawn without messages.
    long frames = view->framesDrawn;
    QTest::qWait(200);
    EXPECT_EQ(view->framesDrawn, frames);
    EXPECT_TRUE(app->idle.Sleeping());

    // Mouse moves to new points: two frames after the last one, then none.
    Move(At(0.3, 0.3));
    Move(At(0.31, 0.3));
    QTest::qWait(200);
    EXPECT_EQ(view->framesDrawn - probe.framesAtLastMessage, 2);
    frames = view->framesDrawn;
    QTest::qWait(200);
    EXPECT_EQ(view->framesDrawn, frames);

    // A move to the same point is no message; a paint request neither.
    Move(At(0.31, 0.3));
    view->update();
    frame->update();
    QTest::qWait(200);
    EXPECT_EQ(view->framesDrawn, frames);

    // Key presses wake it the same way.
    KeyDown(Qt::Key_Z);
    KeyUp(Qt::Key_Z);
    QTest::qWait(200);
    EXPECT_GT(view->framesDrawn, frames);
    EXPECT_EQ(view->framesDrawn - probe.framesAtLastMessage, 2);
    EXPECT_TRUE(app->idle.Sleeping());
}

TEST_F(EditorTest, AboutBoxShowsNameVersionAndCloses) {
    QString title;
    QStringList texts;
    QTimer::singleShot(200, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        for (QLabel* label : box->findChildren<QLabel*>())
            texts << label->text();
        auto* ok = box->findChild<QPushButton*>();
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->text(), QStringLiteral("확인"));
        QTest::mouseClick(ok, Qt::LeftButton);
    });
    EXPECT_TRUE(frame->OnCmdMsg(ID_APP_ABOUT));
    EXPECT_EQ(title, QStringLiteral("Veldmark 정보"));
    EXPECT_TRUE(texts.contains(QStringLiteral("Veldmark, 버전 1.1")));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(EditorTest, FileFiltersAreConvertedForQt) {
    EXPECT_EQ(QtFileFilter(QStringLiteral("MapVertexData File (*.mvd)|*.mvd|")),
              QStringLiteral("MapVertexData File (*.mvd) (*.mvd)"));
    EXPECT_EQ(
        QtFileFilter(QStringLiteral("Texture File (*.bmp, *.jpg, *.png)|*.bmp; *.jpg; *.png;|")),
        QStringLiteral("Texture File (*.bmp, *.jpg, *.png) (*.bmp *.jpg *.png)"));
    EXPECT_EQ(QtFileFilter(QStringLiteral("A|*.a|B|*.b;*.c|")),
              QStringLiteral("A (*.a);;B (*.b *.c)"));
}
