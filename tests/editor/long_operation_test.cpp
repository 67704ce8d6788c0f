// Long work off the interface thread: the window goes on drawing while a slowed load runs
// with its progress dialog, input waits, a cancelled load or a close changes nothing, a failed
// save keeps the file and the mark, and the results through the worker are those made
// directly.
#include "editor_fixture.h"

#include "CLongOperation.h"
#include "CTerrainDocument.h"
#include "heightmap.h"
#include "safe_file.h"

#include <QFile>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>
#include <fstream>
#include <functional>
#include <unistd.h>

using namespace res;
using Answer = CPrompts::SaveAnswer;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const QString& path) {
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<float> Heights(const KrTerrain* t) {
    std::vector<float> y;
    for (int32_t i = 0; i < t->info.numVertices; ++i)
        y.push_back(t->vertices[i].y);
    return y;
}

QProgressDialog* ShownProgress() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* dialog = qobject_cast<QProgressDialog*>(w); dialog && dialog->isVisible())
            return dialog;
    return nullptr;
}

int gWritesLeft = 0;
ssize_t FailingWriter(int fd, const void* data, size_t bytes) {
    if (gWritesLeft-- > 0)
        return ::write(fd, data, bytes);
    errno = ENOSPC;
    return -1;
}

// Looks in every 20 ms while long work runs, from the work's own event loop, and calls
// onShown once when its dialog has shown.
class Watch {
public:
    explicit Watch(CTerrainMainView* view) : view_(view) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Look(); });
        timer_.start();
    }

    std::function<void(QProgressDialog*)> onShown;
    long framesFirst = -1, framesLast = -1; // while running
    QString label;
    bool cancelButton = false, busyCursor = false, shown = false;

private:
    void Look() {
        if (!CLongOperation::Running())
            return;
        framesLast = view_->framesDrawn;
        if (framesFirst < 0)
            framesFirst = framesLast;
        const QCursor* cursor = QApplication::overrideCursor();
        busyCursor = busyCursor || (cursor && cursor->shape() == Qt::BusyCursor);
        QProgressDialog* dialog = ShownProgress();
        if (!dialog || shown)
            return;
        shown = true;
        label = dialog->labelText();
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            cancelButton = cancelButton || (button->isVisible() && button->text() == "취소");
        if (onShown)
            onShown(dialog);
    }

    CTerrainMainView* view_;
    QTimer timer_;
};

} // namespace

// On the OpenGL device where there is one, as the editor runs.
template <class Base> class LongWork : public Base {
protected:
    using Base::Base;
    void TearDown() override {
        CLongOperation::SetStepDelay(0);
        SetFileWriteFunction(nullptr);
        Base::TearDown();
    }
    KrTerrain* Terrain() const { return this->view->terrain; }
    // A 65 × 65 terrain file of its own, beside the one the editor has.
    QString OtherFile() {
        KrTerrain other;
        other.device = Terrain()->device;
        EXPECT_TRUE(other.Create(65, 65, 5));
        const QString file = dir.filePath(QStringLiteral("다른.mvd"));
        EXPECT_TRUE(other.SaveMapVertexData(QFile::encodeName(file).constData()));
        return file;
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("지형.mvd"));
};

using LongOperationGlTest = LongWork<EditorTest>;

class LongOperationTest : public LongWork<PagesTest> {
protected:
    LongOperationTest() : LongWork<PagesTest>(0) {}

    CTerrainDocument& Doc() { return *frame->document; }
    void Raise() {
        Terrain()->brushMode = 1;
        Move(At(0.45, 0.8));
        Press(Qt::LeftButton, At(0.45, 0.8));
        for (int i = 1; i <= 5; ++i) {
            Move(At(0.45 + 0.02 * i, 0.8));
            QTest::qWait(5);
        }
        Release(Qt::LeftButton, At(0.55, 0.8));
    }
};

// A slowed load: frames keep coming, the dialog shows with the load's text and a cancel
// button, the cursor is busy, keys wait, and a second operation is refused meanwhile.
TEST_F(LongOperationGlTest, TheWindowDrawsAndTheDialogShowsWhileALoadRuns) {
    const QString other = OtherFile();
    CLongOperation::SetStepDelay(200);
    const D3DXVECTOR3 eye = Camera().position;
    Watch watch(view);
    CLongOperation::Outcome second = CLongOperation::Outcome::Done;
    std::string refused;
    watch.onShown = [&](QProgressDialog*) {
        Key(QTest::Press, Qt::Key_W);
        Key(QTest::Release, Qt::Key_W);
        second = CLongOperation::Run(
            "x", false, [](const KrProgress&, std::string*) { return true; }, &refused);
    };
    prompts.answers = {{other}};
    frame->OnCmdMsg(ID_LOAD_MAP);

    EXPECT_TRUE(watch.shown);
    EXPECT_EQ(watch.label, QStringLiteral("불러오는 중..."));
    EXPECT_TRUE(watch.cancelButton);
    EXPECT_TRUE(watch.busyCursor);
    EXPECT_GE(watch.framesLast - watch.framesFirst, 5) << "frames went on";
    EXPECT_EQ(Camera().position, eye) << "the key waited";
    EXPECT_EQ(second, CLongOperation::Outcome::Failed);
    EXPECT_FALSE(refused.empty());

    EXPECT_EQ(Terrain()->info.vertsPerRow, 65);
    EXPECT_EQ(frame->windowTitle(), QStringLiteral("다른.mvd - Veldmark"));
    EXPECT_FALSE(CLongOperation::Running());
    EXPECT_EQ(ShownProgress(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();
    // Input reaches the view again.
    Key(QTest::Press, Qt::Key_W);
    Key(QTest::Release, Qt::Key_W);
    EXPECT_NE(Camera().position, eye);
}

// Cancelled from its dialog, or by closing the window, a load leaves the terrain, its history,
// the title and the open file as they were; the close then asks as it always does.
TEST_F(LongOperationTest, ACancelledLoadChangesNothing) {
    prompts.answers = {{path}};
    frame->OnCmdMsg(ID_FILE_SAVE_AS);
    Raise();
    ASSERT_TRUE(Doc().IsModified());
    const QString other = OtherFile();
    KrTerrain* terrain = Terrain();
    const std::vector<float> heights = Heights(terrain);
    const QString title = frame->windowTitle();
    const size_t steps = Doc().History().StepCount(), position = Doc().History().Position();
    const auto unchanged = [&] {
        EXPECT_EQ(Terrain(), terrain);
        EXPECT_EQ(Heights(Terrain()), heights);
        EXPECT_EQ(frame->windowTitle(), title);
        EXPECT_EQ(Doc().FilePath(), path);
        EXPECT_TRUE(Doc().IsModified());
        EXPECT_EQ(Doc().History().StepCount(), steps);
        EXPECT_EQ(Doc().History().Position(), position);
        EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();
    };

    CLongOperation::SetStepDelay(150);
    {
        Watch watch(view);
        watch.onShown = [](QProgressDialog* dialog) {
            for (QPushButton* button : dialog->findChildren<QPushButton*>())
                QTest::mouseClick(button, Qt::LeftButton);
        };
        prompts.saveAnswers = {Answer::Discard};
        prompts.answers = {{other}};
        frame->OnCmdMsg(ID_LOAD_MAP);
        EXPECT_TRUE(watch.shown);
    }
    unchanged();
    EXPECT_TRUE(frame->indicators[0]->text().contains(QStringLiteral("취소")));

    {
        Watch watch(view);
        watch.onShown = [&](QProgressDialog*) { frame->close(); };
        prompts.saveAnswers = {Answer::Discard, Answer::Cancel};
        prompts.answers = {{other}};
        frame->OnCmdMsg(ID_LOAD_MAP);
        EXPECT_TRUE(watch.shown);
        EXPECT_TRUE(frame->isVisible());
        QTest::qWait(50); // the close comes again once the load is over
    }
    EXPECT_TRUE(prompts.saveAnswers.isEmpty()) << "the close asked about the changes";
    EXPECT_TRUE(frame->isVisible());
    unchanged();
}

// A save that fails on its thread keeps the file there and the modified mark, and says why;
// while a save runs the mark stays, and it goes once the file is written.
TEST_F(LongOperationTest, AFailedSaveKeepsTheOldFileAndTheMark) {
    prompts.answers = {{path}};
    frame->OnCmdMsg(ID_FILE_SAVE_AS);
    Raise();
    const Bytes before = ReadFile(path);
    const QString title = frame->windowTitle();
    ASSERT_TRUE(title.startsWith('*'));

    CLongOperation::SetStepDelay(300); // two steps before the write that fails
    gWritesLeft = 1;
    SetFileWriteFunction(FailingWriter);
    Watch failing(view);
    frame->OnCmdMsg(ID_SAVE_MAP);
    SetFileWriteFunction(nullptr);
    EXPECT_TRUE(failing.shown);
    EXPECT_EQ(failing.label, QStringLiteral("저장하는 중..."));
    EXPECT_FALSE(failing.cancelButton) << "a save runs to its end";
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].startsWith(QStringLiteral("Do not Create File")));
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("장치에 남은 공간이 없습니다")))
        << prompts.messages[0].toStdString();
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(frame->windowTitle(), title);
    EXPECT_TRUE(Doc().IsModified());

    QString during;
    Watch saving(view);
    saving.onShown = [&](QProgressDialog*) { during = frame->windowTitle(); };
    frame->OnCmdMsg(ID_SAVE_MAP);
    EXPECT_EQ(during, title);
    EXPECT_EQ(frame->windowTitle(), title.mid(1));
    KrTerrain reread;
    reread.device = Terrain()->device;
    ASSERT_TRUE(reread.LoadMapVertexData(QFile::encodeName(path).constData()));
    EXPECT_EQ(Heights(&reread), Heights(Terrain()));
}

// A new terrain, imports of both kinds, a save, an export and a load make the same terrains
// and files whether the work ends at once or runs through the progress loop.
TEST_F(LongOperationTest, ResultsThroughTheWorkerAreThoseMadeDirectly) {
    std::vector<float> square(65 * 65), again(65 * 65);
    for (size_t i = 0; i < square.size(); ++i) {
        square[i] = 30.0f * std::sin(0.01f * float(i)) + float(i % 9);
        again[i] = square[i] * -0.5f + 3;
    }
    for (const auto& [name, h] : {std::pair("a.r32", &square), std::pair("b.r32", &again)}) {
        Bytes bytes;
        ASSERT_TRUE(EncodeHeightmap(HeightmapFormat::Raw32, 65, 65, h->data(), {}, &bytes, nullptr,
                                    nullptr));
        std::ofstream(QFile::encodeName(dir.filePath(name)).toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    struct Result {
        std::vector<float> imported, replaced, loaded;
        Bytes saved, exported;
        int32_t width = 0;
    };
    const auto run = [&](int delay, const QString& tag) {
        CLongOperation::SetStepDelay(delay);
        Result r;
        EXPECT_TRUE(view->NewTerrain(33, 33, 5));
        r.width = Terrain()->info.vertsPerRow;
        prompts.answers = {{dir.filePath("a.r32")}};
        frame->OnCmdMsg(ID_IMPORT_HEIGHTMAP); // another size: a new terrain
        r.imported = Heights(Terrain());
        prompts.answers = {{dir.filePath("b.r32")}};
        frame->OnCmdMsg(ID_IMPORT_HEIGHTMAP); // the same size: the heights replaced
        r.replaced = Heights(Terrain());
        const QString saved = dir.filePath(tag + ".mvd"), exported = dir.filePath(tag + ".png");
        prompts.answers = {{saved}};
        frame->OnCmdMsg(ID_FILE_SAVE_AS);
        prompts.answers = {{exported}};
        prompts.values = {{-20, 40}};
        frame->OnCmdMsg(ID_EXPORT_HEIGHTMAP);
        EXPECT_TRUE(view->NewTerrain(9, 9, 5));
        prompts.answers = {{saved}};
        frame->OnCmdMsg(ID_LOAD_MAP);
        r.loaded = Heights(Terrain());
        r.saved = ReadFile(saved);
        r.exported = ReadFile(exported);
        EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();
        return r;
    };
    const Result direct = run(0, "direct"), looped = run(60, "looped");
    EXPECT_EQ(direct.width, 33);
    EXPECT_EQ(direct.imported, square);
    EXPECT_EQ(direct.loaded, direct.replaced);
    EXPECT_FALSE(direct.exported.empty());
    EXPECT_EQ(looped.width, direct.width);
    EXPECT_EQ(looped.imported, direct.imported);
    EXPECT_EQ(looped.replaced, direct.replaced);
    EXPECT_EQ(looped.loaded, direct.loaded);
    EXPECT_EQ(looped.saved, direct.saved);
    EXPECT_EQ(looped.exported, direct.exported);
}

// The terrain a new one replaces is kept for undo without device buffers: a new terrain of its
// size takes them over, and gives them back when the device fails.
TEST_F(LongOperationTest, ANewTerrainOfTheSameSizeTakesOverTheBuffers) {
    Raise();
    KrTerrain* old = Terrain();
    const std::vector<float> raised = Heights(old);
    IDirect3DVertexBuffer9* buffer = old->vertexBuffer;
    const auto holds = [](const KrTerrain* t) {
        const auto& data = static_cast<MemoryVertexBuffer*>(t->vertexBuffer)->data;
        return data.size() == size_t(t->info.numVertices) * 32 &&
               std::memcmp(data.data(), t->vertices, data.size()) == 0;
    };

    Device()->failures->lockBuffer = true;
    std::string error;
    EXPECT_FALSE(view->NewTerrain(129, 129, 10, &error));
    Device()->failures->lockBuffer = false;
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(Terrain(), old);
    EXPECT_EQ(old->vertexBuffer, buffer);
    QTest::qWait(50); // frames
    EXPECT_TRUE(holds(old));

    ASSERT_TRUE(view->NewTerrain(129, 129, 10));
    EXPECT_NE(Terrain(), old);
    EXPECT_EQ(Terrain()->vertexBuffer, buffer);
    EXPECT_TRUE(holds(Terrain()));
    frame->OnCmdMsg(ID_EDIT_UNDO);
    ASSERT_EQ(Terrain(), old);
    EXPECT_EQ(Heights(old), raised);
    EXPECT_TRUE(holds(old));
}
