// The document: undo and redo from the menu and the keyboard, the title with the open file
// and its modified mark, the question before changes are lost, and a file given at start-up.
#include "editor_fixture.h"

#include "CDlgMakeNewTerrain.h"
#include "CTerrainDocument.h"

#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

using namespace res;
using Answer = CPrompts::SaveAnswer;

namespace {
std::vector<float> Heights(const KrTerrain* t) {
    std::vector<float> y;
    for (int32_t i = 0; i < t->info.numVertices; ++i)
        y.push_back(t->vertices[i].y);
    return y;
}
} // namespace

class DocumentTest : public PagesTest {
protected:
    DocumentTest() : PagesTest(0) {}

    CTerrainDocument& Doc() { return *frame->document; }
    // A left-button drag across the lower middle of the view with the raise brush.
    void Raise(double y = 0.8) {
        Terrain()->brushMode = 1;
        Move(At(0.45, y));
        Press(Qt::LeftButton, At(0.45, y));
        for (int i = 1; i <= 5; ++i) {
            Move(At(0.45 + 0.02 * i, y));
            QTest::qWait(5);
        }
        Release(Qt::LeftButton, At(0.55, y));
    }
    QString StatusText() const { return frame->indicators[0]->text(); }
    bool Enabled(int id) const { return frame->CommandAction(id)->isEnabled(); }
    // Presses the keys on the frame, as the user's shortcut reaches it.
    void Shortcut(Qt::Key key, Qt::KeyboardModifiers modifiers) {
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : frame, key, modifiers);
        QApplication::processEvents();
    }
    QString FileTitle() const { return QStringLiteral("지형.mvd - Veldmark"); }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("지형.mvd"));
};

TEST_F(DocumentTest, UndoRedoAndTheTitleThroughEditsSavesAndLoads) {
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("제목 없음 - Veldmark"));
    EXPECT_FALSE(Enabled(ID_EDIT_UNDO));
    EXPECT_FALSE(Enabled(ID_EDIT_REDO));
    const std::vector<float> flat = Heights(Terrain());

    Raise();
    const std::vector<float> raised = Heights(Terrain());
    ASSERT_NE(raised, flat);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("*제목 없음 - Veldmark"));
    EXPECT_TRUE(Enabled(ID_EDIT_UNDO));

    // Saving with no file open asks for one; the file's name is the title from then on.
    prompts.answers = {{path}};
    Shortcut(Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(QFile::exists(path));
    EXPECT_EQ(frame->windowTitle(), FileTitle());

    Raise(0.85);
    EXPECT_EQ(frame->windowTitle(), "*" + FileTitle());
    Shortcut(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(Heights(Terrain()), raised);
    EXPECT_EQ(frame->windowTitle(), FileTitle()) << "back at the saved state";
    EXPECT_EQ(StatusText(), QStringLiteral("실행 취소: 높이 브러시"));
    EXPECT_TRUE(Enabled(ID_EDIT_REDO));
    Shortcut(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(frame->windowTitle(), "*" + FileTitle());
    EXPECT_EQ(StatusText(), QStringLiteral("다시 실행: 높이 브러시"));
    EXPECT_FALSE(Enabled(ID_EDIT_REDO));
    frame->OnCmdMsg(ID_EDIT_UNDO);
    Shortcut(Qt::Key_Y, Qt::ControlModifier);
    const std::vector<float> twice = Heights(Terrain());
    EXPECT_NE(twice, raised);

    // Ctrl+S with a file open writes it without a dialog.
    ASSERT_TRUE(prompts.answers.isEmpty());
    Shortcut(Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(prompts.answers.isEmpty());
    EXPECT_EQ(frame->windowTitle(), FileTitle());
    KrTerrain reread;
    reread.device = Terrain()->device;
    ASSERT_TRUE(reread.LoadMapVertexData(QFile::encodeName(path).constData()));
    EXPECT_EQ(Heights(&reread), twice);

    // A new terrain has no file; undoing it brings back the terrain and its file.
    KrTerrain* before = Terrain();
    ASSERT_TRUE(view->NewTerrain(33, 33, 10));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("제목 없음 - Veldmark"));
    EXPECT_EQ(Text(IDC_MAP_WIDTH), "33");
    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_EQ(Terrain(), before);
    EXPECT_EQ(Heights(Terrain()), twice);
    EXPECT_EQ(frame->windowTitle(), FileTitle());
    EXPECT_EQ(Text(IDC_MAP_WIDTH), "129");
    EXPECT_EQ(StatusText(), QStringLiteral("실행 취소: 새 지형"));

    // A load names its file; undone, the title goes back to the file before.
    const QString other = dir.filePath(QStringLiteral("other.mvd"));
    ASSERT_TRUE(QFile::copy(path, other));
    Raise();
    prompts.saveAnswers = {Answer::Discard};
    prompts.answers = {{other}};
    frame->OnCmdMsg(ID_LOAD_MAP);
    EXPECT_EQ(prompts.questions.size(), 1);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("other.mvd - Veldmark"));
    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_EQ(frame->windowTitle(), "*" + FileTitle());
    frame->OnCmdMsg(ID_EDIT_REDO);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("other.mvd - Veldmark"));
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();
}

// Each answer to the question, for exit (menu, close button, window manager), a new terrain
// and a load.
TEST_F(DocumentTest, TheQuestionBeforeChangesAreLost) {
    const auto modified = [&] {
        Raise();
        ASSERT_TRUE(Doc().IsModified());
    };
    // Cancel leaves everything as it was.
    modified();
    const std::vector<float> edited = Heights(Terrain());
    prompts.saveAnswers = {Answer::Cancel, Answer::Cancel, Answer::Cancel, Answer::Cancel};
    frame->OnCmdMsg(ID_APP_EXIT);
    EXPECT_TRUE(frame->isVisible());
    QCloseEvent byWindowManager;
    QApplication::sendEvent(frame, &byWindowManager);
    EXPECT_FALSE(byWindowManager.isAccepted());
    CDlgMakeNewTerrain* dialog = tabs->mapPage->newTerrainDialog.get();
    bool dialogShown = false;
    QTimer::singleShot(0, [&] {
        dialogShown = dialog->isVisible();
        dialog->reject();
    });
    Click(IDC_MAP_NEW_TERRAIN);
    EXPECT_FALSE(dialogShown) << "cancelled before the dialog";
    prompts.answers = {{path}};
    frame->OnCmdMsg(ID_LOAD_MAP);
    EXPECT_EQ(prompts.answers.size(), 1) << "no file dialog after cancel";
    prompts.answers.clear();
    EXPECT_EQ(prompts.questions.size(), 4);
    for (const QString& q : prompts.questions)
        EXPECT_EQ(q, QStringLiteral("Veldmark | 변경 내용을 저장하시겠습니까?"));
    EXPECT_EQ(Heights(Terrain()), edited);
    EXPECT_TRUE(Doc().IsModified());

    // "저장" with a save that fails keeps the editor open and the changes unsaved.
    prompts.saveAnswers = {Answer::Save};
    prompts.answers = {{dir.filePath(QStringLiteral("no/such/dir/x.mvd"))}};
    frame->OnCmdMsg(ID_APP_EXIT);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(Doc().IsModified());

    // "저장" saves first, then the load goes on; "저장 안 함" goes on without saving.
    prompts.saveAnswers = {Answer::Save};
    prompts.answers = {{path}, {path}};
    frame->OnCmdMsg(ID_LOAD_MAP);
    EXPECT_TRUE(prompts.answers.isEmpty());
    EXPECT_EQ(Doc().FilePath(), path);
    EXPECT_EQ(Heights(Terrain()), edited);
    modified();
    const QByteArray onDisk = [&] {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    prompts.saveAnswers = {Answer::Discard};
    QTimer::singleShot(0, [&] {
        for (int i = 0; i < 3; ++i)
            QTest::keyClicks(DlgItem<QLineEdit>(dialog, IDC_NEW_WIDTH + i), "40");
        QTest::mouseClick(GetDlgItem(dialog, IDOK), Qt::LeftButton);
    });
    Click(IDC_MAP_NEW_TERRAIN);
    EXPECT_EQ(Terrain()->info.vertsPerRow, 40);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), onDisk) << "not saved";
    EXPECT_FALSE(Doc().IsModified());

    // Unmodified, exit asks nothing; modified, "저장 안 함" closes.
    const int asked = int(prompts.questions.size());
    frame->OnCmdMsg(ID_APP_EXIT);
    EXPECT_FALSE(frame->isVisible());
    frame->show();
    modified();
    prompts.saveAnswers = {Answer::Discard};
    frame->OnCmdMsg(ID_APP_EXIT);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(prompts.questions.size(), asked + 1);
}

// Undo and redo of layer changes and of a new terrain keep the texture page's lists in step
// with the layers.
TEST_F(DocumentTest, PagesFollowUndoneLayersAndTerrains) {
    SelectTab(1);
    page = tabs->Page(1);
    prompts.answers = {{QStringLiteral(VELDMARK_TEST_DATA "/images/grass.jpg"),
                        QStringLiteral(VELDMARK_TEST_DATA "/images/palette.png")}};
    frame->OnCmdMsg(ID_LOAD_TEXTURE);
    CListView* candidates = Item<CListView>(IDC_TEX_CANDIDATES);
    CListView* layers = Item<CListView>(IDC_TEX_LAYERS);
    for (int row : {1, 0}) {
        candidates->setCurrentRow(row);
        Click(IDC_TEX_REGISTER);
    }
    ASSERT_EQ(layers->count(), 2);
    frame->OnCmdMsg(ID_EDIT_UNDO);
    ASSERT_EQ(layers->count(), 1);
    EXPECT_EQ(layers->item(0)->text(), "palette.png");
    EXPECT_EQ(StatusText(), QStringLiteral("실행 취소: 레이어 추가"));
    EXPECT_FALSE(Doc().IsModified()) << "layers are not in the file";

    ASSERT_TRUE(view->NewTerrain(65, 65, 10));
    EXPECT_EQ(candidates->count(), 0);
    EXPECT_EQ(layers->count(), 0);
    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_EQ(candidates->count(), 2);
    ASSERT_EQ(layers->count(), 1);
    EXPECT_EQ(layers->item(0)->text(), "palette.png");
    frame->OnCmdMsg(ID_EDIT_REDO);
    EXPECT_EQ(layers->count(), 0);
}

// A file named on the command line is open at start; one that cannot be loaded gets the
// usual message and leaves the default terrain.
TEST_F(DocumentTest, FileFromTheCommandLine) {
    KrTerrain small;
    small.device = Terrain()->device;
    ASSERT_TRUE(small.Create(33, 17, 5));
    small.vertices[3].y = 9.0f;
    ASSERT_TRUE(small.SaveMapVertexData(QFile::encodeName(path).constData()));

    app->ProcessCommandLine({dir.filePath(QStringLiteral("missing.mvd"))});
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("missing.mvd")));
    EXPECT_EQ(Terrain()->info.vertsPerRow, 129);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("제목 없음 - Veldmark"));

    app->ProcessCommandLine({path});
    EXPECT_EQ(Terrain()->info.vertsPerRow, 33);
    EXPECT_EQ(Terrain()->vertices[3].y, 9.0f);
    EXPECT_EQ(Text(IDC_MAP_DEPTH), "17");
    EXPECT_EQ(frame->windowTitle(), FileTitle());
    EXPECT_FALSE(Doc().CanUndo()) << "the file is where the history starts";
}
