// The 3D view driven through its window: keyboard camera, mouse look, a brush stroke,
// the file and texture commands through the dialog seam, and what reaches the screen.
#include "editor_fixture.h"

#include "CChildView.h"
#include "memory_device.h"
#include "resource.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTabBar>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::vector<KrTerrainVertex> Vertices(const KrTerrain& terrain) {
    return std::vector<KrTerrainVertex>(terrain.vertices,
                                        terrain.vertices + terrain.info.numVertices);
}

bool SameVertices(const std::vector<KrTerrainVertex>& a, const KrTerrain& terrain) {
    return a.size() == size_t(terrain.info.numVertices) &&
           std::memcmp(a.data(), terrain.vertices, a.size() * sizeof(KrTerrainVertex)) == 0;
}

std::vector<float> Heights(const KrTerrain& terrain) {
    std::vector<float> y;
    for (int32_t i = 0; i < terrain.info.numVertices; ++i)
        y.push_back(terrain.vertices[i].y);
    return y;
}

QString TestData(const char* name) {
    return QDir(QStringLiteral(VELDMARK_TEST_DATA)).filePath(QString::fromUtf8(name));
}

} // namespace

TEST_F(EditorTest, StartsWithTheDefaultTerrainAndCamera) {
    ASSERT_NE(view->terrain, nullptr);
    EXPECT_EQ(view->terrain->info.vertsPerRow, 129);
    EXPECT_EQ(view->terrain->info.vertsPerCol, 129);
    EXPECT_EQ(view->terrain->info.cellSpacingX, 10.0f);
    EXPECT_EQ(view->terrain->fillMode, D3DFILL_SOLID);
    EXPECT_EQ(view->terrain->pickRay, view->pickRay);
    EXPECT_EQ(view->terrain->device, KrRenderer::GetInstance()->device);
    ASSERT_NE(KrRenderer::GetInstance()->device, nullptr);
    EXPECT_EQ(KrRenderer::GetInstance()->deviceWindow, static_cast<PlatformWindow*>(view));
    const D3DXVECTOR3 p = Camera().position;
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.y, 80.0f);
    EXPECT_EQ(p.z, 0.0f);
}

TEST_F(EditorTest, CameraKeysMoveTheCameraTogetherAndOnlyInTheView) {
    view->TakeFocus();
    KeyDown(Qt::Key_W);
    EXPECT_FLOAT_EQ(Camera().position.z, 10.0f);
    EXPECT_FLOAT_EQ(Camera().position.x, 0.0f);
    // W still held: D moves forward and right at once.
    KeyDown(Qt::Key_D);
    EXPECT_FLOAT_EQ(Camera().position.z, 20.0f);
    EXPECT_FLOAT_EQ(Camera().position.x, 10.0f);
    KeyUp(Qt::Key_W);
    KeyDown(Qt::Key_D); // auto-repeat of D alone
    EXPECT_FLOAT_EQ(Camera().position.z, 20.0f);
    EXPECT_FLOAT_EQ(Camera().position.x, 20.0f);
    KeyUp(Qt::Key_D);
    // Shift makes no difference; R flies up, the view matrix follows.
    if (QWindow* w = view->GlWindow())
        QTest::keyPress(w, Qt::Key_R, Qt::ShiftModifier);
    else
        QTest::keyPress(view, Qt::Key_R, Qt::ShiftModifier);
    KeyUp(Qt::Key_R);
    EXPECT_FLOAT_EQ(Camera().position.y, 90.0f);
    EXPECT_FLOAT_EQ(KrRenderer::GetInstance()->viewMatrix._42, -90.0f);

    // Keys sent to the leftover child or the tab menu do not reach the camera.
    const D3DXVECTOR3 before = Camera().position;
    QTest::keyClick(frame->childView, Qt::Key_W);
    QTest::keyClick(frame->tabMenu, Qt::Key_S);
    EXPECT_EQ(Camera().position.z, before.z);
}

TEST_F(EditorTest, MouseLookTurnsTheCameraAndKeepsTheCursorCentred) {
    const QPoint topLeft = view->mapToGlobal(QPoint(0, 0));
    const QPoint centre(topLeft.x() + view->width() / 2, topLeft.y() + view->height() / 2);
    Press(Qt::RightButton, At(0.5, 0.5));
    EXPECT_TRUE(view->mouseLook);
    // A real cursor move of 50 pixels right and 20 up.
    QCursor::setPos(centre + QPoint(50, -20));
    QTest::qWait(300);
    EXPECT_EQ(QCursor::pos(), centre);
    // Yaw 0.1 then pitch -0.04.
    const D3DXVECTOR3 look = Camera().look;
    EXPECT_NEAR(look.x, std::sin(0.1f) * std::cos(0.04f), 1e-3);
    EXPECT_NEAR(look.y, std::sin(0.04f), 1e-3);
    EXPECT_NEAR(look.z, std::cos(0.1f) * std::cos(0.04f), 1e-3);

    Release(Qt::RightButton, At(0.5, 0.5));
    EXPECT_FALSE(view->mouseLook);
    QCursor::setPos(centre + QPoint(80, 0));
    QTest::qWait(200);
    EXPECT_NEAR(Camera().look.x, look.x, 1e-6);
    EXPECT_EQ(QCursor::pos(), centre + QPoint(80, 0));
}

TEST_F(EditorTest, RaiseStrokeChangesHeightsUnderTheCursor) {
    KrTerrain* t = view->terrain;
    t->brushMode = 1; // raise
    const QPoint from = At(0.5, 0.8), to = At(0.6, 0.8);
    Move(from);
    Press(Qt::LeftButton, from);
    EXPECT_TRUE(t->editing);
    ASSERT_TRUE(t->pickHit);
    const D3DXVECTOR3 first = view->pickRay->hitPoint;
    EXPECT_GT(t->GetHeight(first.x, first.z), 0.0f);
    for (int i = 1; i <= 10; ++i) {
        Move(from + (to - from) * i / 10);
        QTest::qWait(10);
    }
    const D3DXVECTOR3 last = view->pickRay->hitPoint;
    Release(Qt::LeftButton, to);
    EXPECT_FALSE(t->editing);
    EXPECT_GT(last.x, first.x + 10.0f);
    EXPECT_GT(t->GetHeight(last.x, last.z), 0.0f);
    // Far from the stroke nothing moved.
    EXPECT_EQ(t->GetHeight(-600.0f, -600.0f), 0.0f);

    // Moving without the button edits no height any more.
    const std::vector<float> after = Heights(*t);
    Move(At(0.3, 0.85));
    QTest::qWait(100);
    EXPECT_EQ(Heights(*t), after);

    // With the light tab selected a stroke edits nothing.
    frame->tabMenu->tabControl->setCurrentIndex(2);
    ASSERT_EQ(t->activeTool, 2);
    Press(Qt::LeftButton, At(0.3, 0.85));
    for (int i = 1; i <= 5; ++i) {
        Move(At(0.3 + 0.02 * i, 0.85));
        QTest::qWait(10);
    }
    Release(Qt::LeftButton, At(0.4, 0.85));
    EXPECT_TRUE(t->pickHit);
    EXPECT_EQ(Heights(*t), after);
}

// Without a GL surface the view runs on the memory device: frames, keys and strokes work
// and the call log does not grow with every frame.
class MemoryEditorTest : public EditorTest {
protected:
    void SetUp() override {
        CTerrainMainView::useGl = false;
        EditorTest::SetUp();
    }
    void TearDown() override {
        EditorTest::TearDown();
        CTerrainMainView::useGl = savedUseGl_;
    }
    bool savedUseGl_ = CTerrainMainView::useGl;
};

TEST_F(MemoryEditorTest, ViewWorksOnTheMemoryDevice) {
    ASSERT_EQ(view->GlWindow(), nullptr);
    auto* device = dynamic_cast<MemoryDevice*>(KrRenderer::GetInstance()->device);
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(device->recording);
    const size_t logged = device->log.size();
    const int presents = device->presents;
    KeyDown(Qt::Key_S);
    KeyUp(Qt::Key_S);
    EXPECT_FLOAT_EQ(Camera().position.z, -10.0f);
    KrTerrain* t = view->terrain;
    t->brushMode = 1;
    Move(At(0.5, 0.8));
    Press(Qt::LeftButton, At(0.5, 0.8));
    Release(Qt::LeftButton, At(0.5, 0.8));
    QTest::qWait(100);
    EXPECT_GT(t->GetHeight(view->pickRay->hitPoint.x, view->pickRay->hitPoint.z), 0.0f);
    EXPECT_GT(device->presents, presents);
    EXPECT_EQ(device->log.size(), logged);
}

TEST_F(EditorTest, SaveAndLoadThroughTheDialogsRestoreTheTerrain) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("지형.mvd"));
    KrTerrain* t = view->terrain;
    t->vertices[5].y = 42.0f;
    t->vertices[700].y = -7.5f;
    const std::vector<KrTerrainVertex> saved = Vertices(*t);

    prompts.answers.push_back({path});
    EXPECT_TRUE(frame->OnCmdMsg(ID_SAVE_MAP));
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join(u'\n').toStdString();
    EXPECT_TRUE(prompts.lastFilter.contains(QStringLiteral("*.mvd")));
    EXPECT_EQ(prompts.lastSuffix, QStringLiteral("mvd"));
    EXPECT_EQ(QFile(path).size(), 20 + 32 * 129 * 129);

    // Another terrain, then the load brings back the saved one into the same object.
    ASSERT_TRUE(view->NewTerrain(33, 65, 4));
    t = view->terrain;
    prompts.answers.push_back({path});
    EXPECT_TRUE(frame->OnCmdMsg(ID_LOAD_MAP));
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join(u'\n').toStdString();
    EXPECT_EQ(view->terrain, t);
    EXPECT_EQ(t->info.vertsPerRow, 129);
    EXPECT_EQ(t->info.vertsPerCol, 129);
    EXPECT_TRUE(SameVertices(saved, *t));

    // Cancelled dialogs change nothing.
    EXPECT_TRUE(frame->OnCmdMsg(ID_LOAD_MAP));
    EXPECT_TRUE(frame->OnCmdMsg(ID_SAVE_MAP));
    EXPECT_TRUE(SameVertices(saved, *t));
    EXPECT_TRUE(prompts.messages.isEmpty());
    QTest::qWait(50); // frames keep running on the loaded terrain
}

TEST_F(EditorTest, FailedLoadAndSaveTellTheUserAndKeepTheTerrain) {
    QTemporaryDir dir;
    KrTerrain* t = view->terrain;
    t->vertices[3].y = 12.0f;
    const std::vector<KrTerrainVertex> before = Vertices(*t);

    // A file shorter than its header promises.
    const QString broken = dir.filePath(QStringLiteral("short.mvd"));
    {
        QFile f(broken);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const int32_t header[2] = {129, 129};
        f.write(reinterpret_cast<const char*>(header), sizeof header);
        f.write(QByteArray(40, '\0'));
    }
    prompts.answers.push_back({broken});
    EXPECT_TRUE(frame->OnCmdMsg(ID_LOAD_MAP));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("short.mvd")))
        << prompts.messages[0].toStdString();
    EXPECT_EQ(view->terrain, t);
    EXPECT_EQ(t->info.vertsPerRow, 129);
    EXPECT_TRUE(SameVertices(before, *t));

    // A missing file.
    prompts.answers.push_back({dir.filePath(QStringLiteral("none.mvd"))});
    EXPECT_TRUE(frame->OnCmdMsg(ID_LOAD_MAP));
    ASSERT_EQ(prompts.messages.size(), 2);
    EXPECT_TRUE(prompts.messages[1].contains(QStringLiteral("none.mvd")));
    EXPECT_TRUE(SameVertices(before, *t));

    // A save into a folder that does not exist.
    prompts.answers.push_back({dir.filePath(QStringLiteral("no/such/dir/x.mvd"))});
    EXPECT_TRUE(frame->OnCmdMsg(ID_SAVE_MAP));
    ASSERT_EQ(prompts.messages.size(), 3);
    EXPECT_TRUE(prompts.messages[2].startsWith(QStringLiteral("Do not Create File")));
    EXPECT_TRUE(prompts.messages[2].contains(QStringLiteral("x.mvd")));

    // Frames still run on the kept terrain.
    const long frames = view->framesDrawn;
    Move(At(0.4, 0.7));
    QTest::qWait(100);
    EXPECT_GT(view->framesDrawn, frames);
}

TEST_F(EditorTest, TextureLoadAddsTheGoodFilesAndNamesTheBadOnes) {
    KrTerrain* t = view->terrain;
    const size_t had = t->textures.size();
    prompts.answers.push_back({TestData("images/grass.jpg"), TestData("images/garbage.png"),
                               TestData("images/rock-progressive.jpg")});
    EXPECT_TRUE(frame->OnCmdMsg(ID_LOAD_TEXTURE));
    EXPECT_TRUE(prompts.lastMultiple);
    EXPECT_TRUE(prompts.lastFilter.contains(QStringLiteral("*.png")));
    EXPECT_EQ(t->textures.size(), had + 2);
    EXPECT_EQ(t->baseTexture, int32_t(had + 1));
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("garbage.png")));
    EXPECT_FALSE(prompts.messages[0].contains(QStringLiteral("grass.jpg")));

    // Cancelled: nothing.
    EXPECT_TRUE(frame->OnCmdMsg(ID_LOAD_TEXTURE));
    EXPECT_EQ(t->textures.size(), had + 2);
    EXPECT_EQ(prompts.messages.size(), 1);
}

TEST_F(EditorTest, NewTerrainReplacesTheTerrainOrKeepsItWhenRefused) {
    KrTerrain* old = view->terrain;
    old->vertices[0].y = 5.0f;
    KeyDown(Qt::Key_W);
    KeyUp(Qt::Key_W);
    std::string error;
    EXPECT_FALSE(view->NewTerrain(0, 65, 5, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(view->NewTerrain(65, 65, 0, &error));
    EXPECT_EQ(view->terrain, old);
    EXPECT_EQ(old->vertices[0].y, 5.0f);

    ASSERT_TRUE(view->NewTerrain(65, 33, 5));
    ASSERT_NE(view->terrain, nullptr);
    EXPECT_EQ(view->terrain->info.vertsPerRow, 65);
    EXPECT_EQ(view->terrain->info.vertsPerCol, 33);
    EXPECT_EQ(view->terrain->fillMode, D3DFILL_SOLID);
    EXPECT_EQ(view->terrain->pickRay, view->pickRay);
    EXPECT_EQ(Camera().position.z, 0.0f); // camera reset
    const long frames = view->framesDrawn;
    Move(At(0.5, 0.7));
    QTest::qWait(100);
    EXPECT_GT(view->framesDrawn, frames);
}

TEST_F(EditorTest, StartUpFrameShowsSkyAboveAndTerrainBelowTheHorizon) {
    if (!view->GlWindow())
        GTEST_SKIP() << "the view runs without OpenGL in this build";
    // Let the idle loop draw, then read back what is on the screen.
    Move(At(0.2, 0.2));
    QTest::qWait(300);
    const QPoint topLeft = view->mapToGlobal(QPoint(0, 0));
    QImage shot = QGuiApplication::primaryScreen()
                      ->grabWindow(0, topLeft.x(), topLeft.y(), view->width(), view->height())
                      .toImage()
                      .convertToFormat(QImage::Format_RGB32);
    ASSERT_FALSE(shot.isNull());
    if (const char* out = std::getenv("VELDMARK_SCREENSHOT"))
        shot.save(QString::fromUtf8(out));
    const auto isSky = [](QRgb c) { return qRed(c) < 20 && qGreen(c) < 20 && qBlue(c) > 235; };
    int sky = 0, skyTotal = 0, ground = 0, groundTotal = 0;
    for (int y = 0; y < shot.height(); y += 8) {
        for (int x = 0; x < shot.width(); x += 8) {
            const bool top = y < shot.height() * 0.4;
            // The far edge of the terrain lies a little below the middle.
            const bool bottom = y > shot.height() * 0.75;
            const bool blue = isSky(shot.pixel(x, y));
            if (top) {
                ++skyTotal;
                sky += blue;
            } else if (bottom) {
                ++groundTotal;
                ground += !blue;
            }
        }
    }
    EXPECT_GT(sky, skyTotal * 9 / 10);
    EXPECT_GT(ground, groundTotal * 9 / 10);
}
