// The 3D view driven through its window: keyboard camera, mouse look, a brush stroke, the
// file commands through the dialog seam, and what reaches the screen.
#include "editor_fixture.h"

#include "CChildView.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <cmath>
#include <vector>

namespace {
std::vector<float> Heights(const KrTerrain* t) {
    std::vector<float> y;
    for (int32_t i = 0; i < t->info.numVertices; ++i)
        y.push_back(t->vertices[i].y);
    return y;
}
} // namespace

TEST_F(EditorTest, CameraKeysMoveTheCameraTogetherAndOnlyInTheView) {
    EXPECT_EQ(Camera().position, D3DXVECTOR3(0, 80, 0));
    view->TakeFocus();
    Key(QTest::Press, Qt::Key_W);
    EXPECT_EQ(Camera().position, D3DXVECTOR3(0, 80, 10));
    Key(QTest::Press, Qt::Key_D); // with W still held
    Key(QTest::Release, Qt::Key_W);
    EXPECT_EQ(Camera().position, D3DXVECTOR3(10, 80, 20));
    // Keys sent to the leftover child or the tab menu do not reach the camera.
    QTest::keyClick(frame->childView, Qt::Key_W);
    QTest::keyClick(frame->tabMenu, Qt::Key_S);
    EXPECT_EQ(Camera().position, D3DXVECTOR3(10, 80, 20));
}

TEST_F(EditorTest, MouseLookTurnsTheCameraAndKeepsTheCursorCentred) {
    const QPoint centre = view->mapToGlobal(At(0.5, 0.5));
    Press(Qt::RightButton, At(0.5, 0.5));
    QCursor::setPos(centre + QPoint(50, -20));
    QTest::qWait(300);
    EXPECT_EQ(QCursor::pos(), centre);
    // Yaw 0.1 then pitch -0.04.
    const D3DXVECTOR3 look = Camera().look;
    EXPECT_NEAR(look.x, std::sin(0.1f) * std::cos(0.04f), 1e-3);
    EXPECT_NEAR(look.y, std::sin(0.04f), 1e-3);
    EXPECT_NEAR(look.z, std::cos(0.1f) * std::cos(0.04f), 1e-3);

    Release(Qt::RightButton, At(0.5, 0.5));
    QCursor::setPos(centre + QPoint(80, 0));
    QTest::qWait(200);
    EXPECT_NEAR(Camera().look.x, look.x, 1e-6);
    EXPECT_EQ(QCursor::pos(), centre + QPoint(80, 0));
}

// The first move after the button goes down turns the camera by that move only, not by
// the cursor's distance from the view's centre (about 1 rad from a corner).
TEST_F(EditorTest, MouseLookStartsWhereTheButtonWentDown) {
    const QPoint corner = view->mapToGlobal(At(0.03, 0.03));
    Press(Qt::RightButton, At(0.03, 0.03));
    QCursor::setPos(corner + QPoint(5, 0));
    QTest::qWait(300);
    const D3DXVECTOR3 look = Camera().look;
    EXPECT_NEAR(std::atan2(look.x, look.z), 0.01f, 1e-3);
    EXPECT_NEAR(look.y, 0.0f, 1e-3);
    Release(Qt::RightButton, At(0.5, 0.5));
}

TEST_F(EditorTest, RaiseStrokeChangesHeightsUnderTheCursorButNotOnTheLightTab) {
    KrTerrain* t = Terrain();
    t->brushMode = 1; // raise
    const auto drag = [&](QPoint from, QPoint to) {
        Move(from);
        Press(Qt::LeftButton, from);
        for (int i = 1; i <= 10; ++i) {
            Move(from + (to - from) * i / 10);
            QTest::qWait(10);
        }
        Release(Qt::LeftButton, to);
    };
    Move(At(0.5, 0.8));
    ASSERT_TRUE(t->pickHit);
    const D3DXVECTOR3 first = view->pickRay->hitPoint;
    drag(At(0.5, 0.8), At(0.6, 0.8));
    const D3DXVECTOR3 last = view->pickRay->hitPoint;
    EXPECT_FALSE(t->editing);
    EXPECT_GT(last.x, first.x + 10.0f);
    EXPECT_GT(t->GetHeight(first.x, first.z), 0.0f);
    EXPECT_GT(t->GetHeight(last.x, last.z), 0.0f);
    EXPECT_EQ(t->GetHeight(-600.0f, -600.0f), 0.0f);

    // Moving without the button, or dragging with the light tab selected, edits nothing.
    const std::vector<float> after = Heights(t);
    Move(At(0.3, 0.85));
    QTest::qWait(100);
    frame->tabMenu->tabControl->setCurrentIndex(2);
    ASSERT_EQ(t->activeTool, 2);
    drag(At(0.3, 0.85), At(0.4, 0.85));
    EXPECT_TRUE(t->pickHit);
    EXPECT_EQ(Heights(t), after);
}

TEST_F(EditorTest, SaveAndLoadThroughTheDialogsAndFailuresKeepTheTerrain) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("지형.mvd"));
    Terrain()->vertices[0].y = 42.0f;
    Terrain()->vertices[700].y = -7.5f;
    const std::vector<float> saved = Heights(Terrain());
    prompts.answers = {{path}};
    EXPECT_TRUE(frame->OnCmdMsg(ID_SAVE_MAP));

    // Another terrain; the load brings the saved one back into the same object, and the
    // cancelled dialog and the save to the open file after it change nothing.
    ASSERT_TRUE(view->NewTerrain(33, 65, 4));
    KrTerrain* t = Terrain();
    prompts.answers = {{path}};
    for (int id : {ID_LOAD_MAP, ID_LOAD_MAP, ID_SAVE_MAP})
        EXPECT_TRUE(frame->OnCmdMsg(id));
    EXPECT_EQ(Terrain(), t);
    EXPECT_EQ(t->info.vertsPerCol, 129);
    EXPECT_EQ(Heights(t), saved);
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();

    // A file shorter than its header promises, and a save into no folder.
    t->vertices[0].y = 12.0f;
    const std::vector<float> before = Heights(t);
    const QString broken = dir.filePath(QStringLiteral("short.mvd"));
    ASSERT_TRUE(QFile::copy(path, broken) && QFile::resize(broken, 48));
    prompts.answers = {{broken}, {dir.filePath(QStringLiteral("no/such/dir/x.mvd"))}};
    EXPECT_TRUE(frame->OnCmdMsg(ID_LOAD_MAP));
    EXPECT_TRUE(frame->OnCmdMsg(ID_FILE_SAVE_AS));
    // Each says why, in Korean; the save's message keeps its first line and has the
    // system's reason under it.
    ASSERT_EQ(prompts.messages.size(), 2);
    EXPECT_TRUE(prompts.messages[0].startsWith(QStringLiteral("파일을 불러올 수 없습니다 | ")));
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("short.mvd")));
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("파일은 48바이트인데")));
    const QStringList lines = prompts.messages[1].split(u'\n');
    EXPECT_EQ(lines[0], QStringLiteral("Do not Create File | Do not Create File"));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("그런 파일이나 폴더가 없습니다")))
        << lines[1].toStdString();
    EXPECT_TRUE(prompts.messages[1].contains(QStringLiteral("x.mvd")));
    EXPECT_EQ(Terrain(), t);
    EXPECT_EQ(Heights(t), before);
}

TEST_F(EditorTest, StartUpFrameShowsSkyAboveAndTerrainBelowTheHorizon) {
    if (!view->GlWindow())
        GTEST_SKIP() << "the view runs without OpenGL in this build";
    Move(At(0.2, 0.2));
    QTest::qWait(300);
    const QPoint topLeft = view->mapToGlobal(QPoint(0, 0));
    const QImage shot = QGuiApplication::primaryScreen()
                            ->grabWindow(0, topLeft.x(), topLeft.y(), view->width(), view->height())
                            .toImage();
    ASSERT_FALSE(shot.isNull());
    // Sky fills the top 40 %; the terrain's far edge lies a little below the middle.
    int hits[2] = {}, totals[2] = {};
    for (int y = 0; y < shot.height(); y += 8) {
        const int band = y < shot.height() * 0.4 ? 0 : y > shot.height() * 0.75 ? 1 : -1;
        for (int x = 0; x < shot.width() && band >= 0; x += 8) {
            const QRgb c = shot.pixel(x, y);
            ++totals[band];
            hits[band] += (qRed(c) < 20 && qGreen(c) < 20 && qBlue(c) > 235) == (band == 0);
        }
    }
    EXPECT_GT(hits[0], totals[0] * 9 / 10);
    EXPECT_GT(hits[1], totals[1] * 9 / 10);
}
