// The README's pictures of the sculpting and auto painting tools, made by driving the real
// editor. They are written only when VELDMARK_SCREENSHOTS names a folder; otherwise the
// test is skipped.
#include "editor_fixture.h"

#include "KrBrushShape.h"

#include <QDir>

using namespace res;

namespace {

const QString kImages = QStringLiteral(VELDMARK_TEST_DATA "/images/");

class Screenshots : public EditorTest {
protected:
    void SetUp() override {
        folder_ = qEnvironmentVariable("VELDMARK_SCREENSHOTS");
        if (folder_.isEmpty())
            GTEST_SKIP() << "set VELDMARK_SCREENSHOTS to a folder to make the pictures";
        EditorTest::SetUp();
        if (HasFatalFailure())
            return;
        if (!view->GlWindow())
            GTEST_SKIP() << "the pictures need the OpenGL view";
        frame->resize(1180, 760);
        frame->splitter->setSizes({760, 420});
        QTest::qWait(200);
    }

    void Page(int tab) {
        CTerrainTabMenu* tabs = frame->tabMenu;
        QTest::mouseClick(tabs->tabControl, Qt::LeftButton, {},
                          tabs->tabControl->tabRect(tab).center());
        QTest::qWait(50);
    }
    void Click(int tab, int id) {
        QWidget* page = frame->tabMenu->Page(tab);
        frame->tabMenu->ensureWidgetVisible(GetDlgItem(page, id));
        QTest::mouseClick(GetDlgItem(page, id), Qt::LeftButton);
    }
    void Slider(int tab, int id, int position) {
        auto* slider = DlgItem<CTrackBar>(frame->tabMenu->Page(tab), id);
        slider->setValue(position);
        slider->repaint();
    }
    // A stroke from world point a to b (x, z), one brush step per point along it, as the
    // frames of a drag would make; the pictures then do not depend on the frame rate.
    void Stroke(QPointF a, QPointF b, int steps = 40) {
        KrTerrain* t = Terrain();
        t->BeginStroke();
        for (int i = 0; i <= steps; ++i) {
            const QPointF p = a + (b - a) * (double(i) / steps);
            t->pickRay->hitPoint =
                D3DXVECTOR3(float(p.x()), t->GetHeight(float(p.x()), float(p.y())), float(p.y()));
            t->pickHit = true;
            t->ApplyHeightBrush();
        }
        QTest::qWait(30);
    }
    void LoadTextures(const QStringList& files) {
        prompts.answers = {files};
        frame->OnCmdMsg(ID_LOAD_TEXTURE);
    }
    void Save(const QString& name) {
        Move(At(0.02, 0.02)); // the brush circles out of the way
        QTest::qWait(300);
        const QImage shot =
            QGuiApplication::primaryScreen()
                ->grabWindow(0, frame->x(), frame->y(), frame->frameGeometry().width(),
                             frame->frameGeometry().height())
                .toImage();
        ASSERT_TRUE(shot.save(QDir(folder_).filePath(name)));
    }

    QString folder_;
};

TEST_F(Screenshots, SmoothedStrokeBesideASquareOne) {
    LoadTextures({kImages + "grass.jpg"});
    KrCamera& camera = Camera();
    camera.SetPosition(D3DXVECTOR3(0, 300, -640));
    camera.RotateX(0.42f, 0);
    KrRenderer::GetInstance()->UpdateView();
    Click(0, IDC_MAP_RAISE);
    Slider(0, IDC_MAP_BIG_SLIDER, 40);
    Slider(0, IDC_MAP_SMALL_SLIDER, 25);
    Slider(0, IDC_MAP_STRENGTH_SLIDER, 30);
    // Two ridges with the square brush, the right one then smoothed with a wide round brush.
    for (double x : {-220.0, 220.0})
        for (int pass = 0; pass < 3; ++pass)
            Stroke({x, -60}, {x, 400});
    Click(0, IDC_MAP_SMOOTH);
    Click(0, IDC_MAP_ROUND);
    Slider(0, IDC_MAP_BIG_SLIDER, 70);
    Slider(0, IDC_MAP_SMALL_SLIDER, 35);
    Slider(0, IDC_MAP_STRENGTH_SLIDER, 25);
    for (int pass = 0; pass < 4; ++pass)
        Stroke({220, -90}, {220, 430}, 60);
    Save(QStringLiteral("sculpt-smooth.png"));
}

TEST_F(Screenshots, AutoPaintedTerrain) {
    LoadTextures(
        {kImages + "grass.jpg", kImages + "rock-progressive.jpg", kImages + "snow-16bit.png"});
    Terrain()->baseTexture = 0;
    KrCamera& camera = Camera();
    camera.SetPosition(D3DXVECTOR3(0, 650, -1050));
    camera.RotateX(0.55f, 0);
    KrRenderer::GetInstance()->UpdateView();

    // Hills: broad raised strokes, roughened with noise.
    Click(0, IDC_MAP_RAISE);
    Click(0, IDC_MAP_ROUND);
    Slider(0, IDC_MAP_BIG_SLIDER, 200);
    Slider(0, IDC_MAP_SMALL_SLIDER, 40);
    Slider(0, IDC_MAP_STRENGTH_SLIDER, 15);
    for (int pass = 0; pass < 2; ++pass) {
        Stroke({-350, 100}, {-50, 250});
        Stroke({150, 300}, {350, -50});
    }
    Click(0, IDC_MAP_NOISE);
    Slider(0, IDC_MAP_BIG_SLIDER, 500);
    Slider(0, IDC_MAP_SMALL_SLIDER, 250);
    Slider(0, IDC_MAP_STRENGTH_SLIDER, 20);
    for (int pass = 0; pass < 2; ++pass)
        Stroke({-300, -200}, {300, 200}, 30);
    Click(0, IDC_MAP_SMOOTH);
    Slider(0, IDC_MAP_STRENGTH_SLIDER, 10);
    Stroke({-300, -200}, {300, 200}, 30);

    // Rock on the steep ground, snow on the heights, each a layer of its own.
    Page(1);
    CTerrainTextureControl* page = frame->tabMenu->texturePage;
    const auto fill = [&](int candidate, QStringList boxes) {
        page->RegisterCandidate(candidate);
        const int ids[] = {IDC_TEX_AUTO_SLOPE_MIN,  IDC_TEX_AUTO_SLOPE_MAX,
                           IDC_TEX_AUTO_SLOPE_SOFT, IDC_TEX_AUTO_HEIGHT_MIN,
                           IDC_TEX_AUTO_HEIGHT_MAX, IDC_TEX_AUTO_HEIGHT_SOFT};
        for (int i = 0; i < 6; ++i)
            SetDlgItemText(page, ids[i], boxes[i]);
        Click(1, IDC_TEX_AUTO_PAINT);
    };
    fill(1, {"30", "90", "10", "-10000", "10000", "0"});
    fill(2, {"0", "25", "8", "90", "10000", "30"});
    QTest::qWait(100);
    Save(QStringLiteral("auto-paint.png"));
}

// The map and texture pages as they start, the texture page with two layers registered.
TEST_F(Screenshots, Pages) {
    const auto grab = [&](const QString& name) {
        QTest::qWait(100);
        ASSERT_TRUE(frame->tabMenu->form->grab().save(QDir(folder_).filePath(name)));
    };
    grab(QStringLiteral("page-map.png"));
    LoadTextures({kImages + "grass.jpg", kImages + "palette.png"});
    Page(1);
    for (int row : {0, 1})
        frame->tabMenu->texturePage->RegisterCandidate(row);
    grab(QStringLiteral("page-texture.png"));
}

} // namespace
