// The document: undo and redo from the menu and the keyboard, the title with the open file
// and its modified mark, the question before changes are lost, and a file given at start-up.
#include "editor_fixture.h"

#include "CDlgMakeNewTerrain.h"
#include "CTerrainDocument.h"
#include "KrBrushShape.h"

#include <QCloseEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <filesystem>

#include <sys/stat.h>

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
    ASSERT_EQ(prompts.messages.size(), 1);
    const QStringList lines = prompts.messages[0].split(u'\n');
    EXPECT_EQ(lines[0], QStringLiteral("Do not Create File | Do not Create File"));
    EXPECT_TRUE(lines.value(1).endsWith(QStringLiteral("그런 파일이나 폴더가 없습니다")))
        << prompts.messages[0].toStdString();
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
    EXPECT_TRUE(Doc().IsModified()) << "textures and layers are saved with the painting";

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

// A terrain that comes back by undo or redo, whole or as a grid, takes the brush mode and
// shape, fill mode and trackbars the map page shows, even where the terrain it replaces had
// strayed from them.
TEST_F(DocumentTest, TerrainsThatComeBackTakeTheModesThePageShows) {
    int shape = kBrushShapeRound;
    const auto expectPage = [&](int brush, int fill) {
        QTest::qWait(50); // the trackbars write on their repaint
        EXPECT_EQ(Terrain()->brushMode, brush);
        EXPECT_EQ(Terrain()->brushShape, shape);
        EXPECT_EQ(Terrain()->fillMode, fill);
        EXPECT_FLOAT_EQ(Terrain()->strength, 0.3f);
    };
    const auto stray = [&] {
        Terrain()->brushMode = 0;
        Terrain()->brushShape = 1 - shape;
        Terrain()->fillMode = D3DFILL_SOLID;
        Terrain()->strength = 0.05f;
    };
    KrTerrain* const first = Terrain();
    Click(IDC_MAP_RAISE);
    Click(IDC_MAP_ROUND);
    Click(IDC_MAP_WIRE);
    SetTrackbar(IDC_MAP_STRENGTH_SLIDER, 30);
    ASSERT_TRUE(view->NewTerrain(33, 33, 10));
    expectPage(1, D3DFILL_WIREFRAME);

    Click(IDC_MAP_LOWER);
    Click(IDC_MAP_POINT);
    stray();
    frame->OnCmdMsg(ID_EDIT_UNDO);
    ASSERT_EQ(Terrain(), first);
    expectPage(2, D3DFILL_POINT);
    stray();
    frame->OnCmdMsg(ID_EDIT_REDO);
    ASSERT_NE(Terrain(), first);
    expectPage(2, D3DFILL_POINT);

    // A load replaces the grid in the same object; its undo and redo do too.
    KrTerrain small;
    small.device = Terrain()->device;
    ASSERT_TRUE(small.Create(17, 9, 5));
    ASSERT_TRUE(small.SaveMapVertexData(QFile::encodeName(path).constData()));
    Click(IDC_MAP_FLAT);
    Click(IDC_MAP_SQUARE);
    shape = kBrushShapeSquare;
    stray();
    prompts.answers = {{path}};
    frame->OnCmdMsg(ID_LOAD_MAP);
    ASSERT_EQ(Terrain()->info.vertsPerRow, 17);
    expectPage(3, D3DFILL_POINT);
    Click(IDC_MAP_SOLID);
    for (int id : {ID_EDIT_UNDO, ID_EDIT_REDO}) {
        stray();
        frame->OnCmdMsg(id);
        expectPage(3, D3DFILL_SOLID);
    }
    EXPECT_EQ(Text(IDC_MAP_DEPTH), "9");
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();
}

// After any undo or redo of a layer change or of a new terrain, the highlighted row of
// "선택된 텍스쳐" is the layer painted, and it is the layer that was painted in that state.
TEST_F(DocumentTest, UndoneLayerChangesHighlightTheLayerPainted) {
    SelectTab(1);
    page = tabs->Page(1);
    prompts.answers = {{QStringLiteral(VELDMARK_TEST_DATA "/images/grass.jpg"),
                        QStringLiteral(VELDMARK_TEST_DATA "/images/palette.png")}};
    frame->OnCmdMsg(ID_LOAD_TEXTURE);
    CListView* candidates = Item<CListView>(IDC_TEX_CANDIDATES);
    CListView* layers = Item<CListView>(IDC_TEX_LAYERS);
    for (int row : {0, 1, 0}) {
        candidates->setCurrentRow(row);
        Click(IDC_TEX_REGISTER);
    }
    ASSERT_EQ(Terrain()->alphaMaps.size(), 3u);
    const std::vector<KrTextureEntry*> maps = Terrain()->alphaMaps;
    // The map painted, through the terrain and through the page.
    const auto painted = [&]() -> KrTextureEntry* {
        const int row = layers->FirstSelected();
        EXPECT_EQ(row, Terrain()->selectedLayer);
        EXPECT_EQ(layers->count(), int(Terrain()->alphaMaps.size()));
        return row >= 0 && size_t(row) < Terrain()->alphaMaps.size()
                   ? Terrain()->alphaMaps[size_t(row)]
                   : nullptr;
    };
    const auto step = [&](int id) {
        frame->OnCmdMsg(id);
        QApplication::processEvents();
    };

    // Removed: the neighbour is painted; undone, the removed one again.
    layers->setCurrentRow(1);
    ASSERT_EQ(painted(), maps[1]);
    Click(IDC_TEX_UNREGISTER);
    EXPECT_EQ(painted(), maps[2]);
    step(ID_EDIT_UNDO);
    EXPECT_EQ(painted(), maps[1]);
    EXPECT_EQ(Terrain()->alphaMaps, maps);
    step(ID_EDIT_REDO);
    EXPECT_EQ(painted(), maps[2]);
    step(ID_EDIT_UNDO);

    // Moved down and back: the moved layer stays the one painted.
    layers->setCurrentRow(0);
    Click(IDC_TEX_DOWN);
    EXPECT_EQ(painted(), maps[0]);
    EXPECT_EQ(layers->FirstSelected(), 1);
    step(ID_EDIT_UNDO);
    EXPECT_EQ(painted(), maps[0]);
    EXPECT_EQ(layers->FirstSelected(), 0);
    step(ID_EDIT_REDO);
    EXPECT_EQ(painted(), maps[0]);
    EXPECT_EQ(layers->FirstSelected(), 1);
    step(ID_EDIT_UNDO);

    // Added while another was painted: undone, that one is painted again.
    layers->setCurrentRow(2);
    candidates->setCurrentRow(1);
    Click(IDC_TEX_REGISTER);
    KrTextureEntry* added = painted();
    EXPECT_EQ(layers->FirstSelected(), 3);
    step(ID_EDIT_UNDO);
    EXPECT_EQ(painted(), maps[2]);
    step(ID_EDIT_REDO);
    EXPECT_EQ(painted(), added);
    step(ID_EDIT_UNDO);

    // A new terrain has no layers; the old terrain comes back with its painted layer.
    layers->setCurrentRow(1);
    ASSERT_TRUE(view->NewTerrain(33, 33, 10));
    EXPECT_EQ(painted(), nullptr);
    step(ID_EDIT_UNDO);
    EXPECT_EQ(painted(), maps[1]);
    EXPECT_EQ(Terrain()->alphaMaps, maps);
}

// Saves from the document go through the atomic writer (a link stays a link) and reads
// refuse what is not a regular file at once, in Korean, leaving the document as it was.
TEST_F(DocumentTest, SavesFollowLinksAndLoadsRefuseWhatIsNotAFile) {
    namespace fs = std::filesystem;
    const fs::path root = QFile::encodeName(dir.path()).toStdString();
    fs::create_directory(root / "real");
    fs::create_symlink("real/target.mvd", root / "link.mvd");
    const QString link = dir.filePath(QStringLiteral("link.mvd"));
    const QString target = dir.filePath(QStringLiteral("real/target.mvd"));
    const auto saved = [&] {
        KrTerrain reread;
        reread.device = Terrain()->device;
        EXPECT_TRUE(reread.LoadMapVertexData(QFile::encodeName(target).constData()));
        return Heights(&reread);
    };

    Raise();
    prompts.answers = {{link}};
    frame->OnCmdMsg(ID_FILE_SAVE_AS); // a dangling link gets the file it names
    EXPECT_TRUE(fs::is_symlink(root / "link.mvd"));
    EXPECT_EQ(saved(), Heights(Terrain()));
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("link.mvd - Veldmark"));
    Raise(0.85);
    frame->OnCmdMsg(ID_SAVE_MAP); // to the open file, through the link
    EXPECT_TRUE(prompts.answers.isEmpty());
    EXPECT_TRUE(fs::is_symlink(root / "link.mvd"));
    EXPECT_EQ(saved(), Heights(Terrain()));
    EXPECT_FALSE(Doc().IsModified());

    // A named pipe with no writer would block a plain open for good.
    const QString pipe = dir.filePath(QStringLiteral("pipe.mvd"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const size_t steps = Doc().History().StepCount();
    const QString title = frame->windowTitle();
    prompts.answers = {{pipe}};
    frame->OnCmdMsg(ID_LOAD_MAP);
    app->ProcessCommandLine({pipe});
    ASSERT_EQ(prompts.messages.size(), 2);
    for (const QString& message : prompts.messages) {
        EXPECT_TRUE(message.startsWith(QStringLiteral("파일을 불러올 수 없습니다 | ")));
        EXPECT_TRUE(message.contains(QStringLiteral("일반 파일이 아닙니다")));
        EXPECT_TRUE(message.contains(QStringLiteral("pipe.mvd")));
    }
    EXPECT_EQ(Doc().History().StepCount(), steps);
    EXPECT_EQ(frame->windowTitle(), title);
    EXPECT_EQ(Doc().FilePath(), link);
}

// Auto painting is one step that the Edit menu undoes and redoes, the whole alpha map
// exactly; like painting, it marks the terrain modified, since the painting is saved too.
TEST_F(DocumentTest, AutoPaintIsOneStepOfTheEditMenu) {
    SelectTab(1);
    page = tabs->Page(1);
    prompts.answers = {{QStringLiteral(VELDMARK_TEST_DATA "/images/grass.jpg")}};
    frame->OnCmdMsg(ID_LOAD_TEXTURE);
    Item<CListView>(IDC_TEX_CANDIDATES)->setCurrentRow(0);
    Click(IDC_TEX_REGISTER);
    ASSERT_EQ(Terrain()->selectedLayer, 0);
    KrTextureEntry* map = Terrain()->alphaMaps[0];
    const auto texels = [map] {
        const auto* texture = static_cast<MemoryTexture*>(map->texture);
        std::vector<uint32_t> all;
        for (UINT y = 0; y < ALPHA_MAP_SIZE; ++y)
            for (UINT x = 0; x < ALPHA_MAP_SIZE; ++x)
                all.push_back(texture->Texel(0, x, y));
        return all;
    };
    // A dab first, so that the map is not uniform before.
    Move(At(0.5, 0.75));
    Press(Qt::LeftButton, At(0.5, 0.75));
    Release(Qt::LeftButton, At(0.5, 0.75));
    const std::vector<uint32_t> before = texels();
    ASSERT_TRUE(std::any_of(before.begin(), before.end(), [](uint32_t t) { return t != 0; }));

    Click(IDC_TEX_AUTO_PAINT);
    const std::vector<uint32_t> after = texels();
    ASSERT_NE(after, before);
    EXPECT_TRUE(Enabled(ID_EDIT_UNDO));
    EXPECT_TRUE(Doc().IsModified());
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("*제목 없음 - Veldmark"));
    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_EQ(StatusText(), QStringLiteral("실행 취소: 자동 칠하기"));
    EXPECT_TRUE(texels() == before);
    EXPECT_TRUE(Enabled(ID_EDIT_REDO));
    frame->OnCmdMsg(ID_EDIT_REDO);
    EXPECT_EQ(StatusText(), QStringLiteral("다시 실행: 자동 칠하기"));
    EXPECT_TRUE(texels() == after);
    // The dab before it is a step of its own.
    frame->OnCmdMsg(ID_EDIT_UNDO);
    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_EQ(StatusText(), QStringLiteral("실행 취소: 텍스쳐 칠하기"));
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();
}
