// The tab menu, the map page and the new terrain dialog.
#include "editor_fixture.h"

#include "CDlgMakeNewTerrain.h"
#include "KrBrushShape.h"

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>

using namespace res;

class MapPageTest : public PagesTest {
protected:
    MapPageTest() : PagesTest(0) {}

    // Runs "지형 새로 만들기", types "width,depth,spacing" into its empty boxes and presses
    // OK (or cancel). Returns whether OK left the dialog open; it is then cancelled.
    bool RunNewTerrain(const QString& values, bool ok = true) {
        bool stayedOpen = false;
        CDlgMakeNewTerrain* dialog = tabs->mapPage->newTerrainDialog.get();
        QTimer::singleShot(0, [&] {
            for (int i = 0; i < 3; ++i) {
                auto* box = DlgItem<QLineEdit>(dialog, IDC_NEW_WIDTH + i);
                EXPECT_TRUE(box->text().isEmpty());
                QTest::keyClicks(box, values.section(',', i, i));
            }
            QTest::mouseClick(GetDlgItem(dialog, ok ? IDOK : IDCANCEL), Qt::LeftButton);
            if ((stayedOpen = dialog->isVisible()))
                dialog->reject();
        });
        Click(IDC_MAP_NEW_TERRAIN);
        EXPECT_FALSE(dialog->isVisible());
        return stayedOpen;
    }
    QString InfoBoxes() {
        return Text(IDC_MAP_WIDTH) + ',' + Text(IDC_MAP_DEPTH) + ',' + Text(IDC_MAP_SPACING);
    }
};

TEST_F(MapPageTest, TabSelectionChoosesPageAndTool) {
    ASSERT_EQ(tabs->tabControl->count(), 3);
    for (int tab : {0, 1, 2, 0, 2}) {
        SelectTab(tab);
        EXPECT_EQ(Terrain()->activeTool, tab);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(tabs->Page(i)->isVisible(), i == tab) << "tab " << tab << " page " << i;
    }
}

// A button released outside the view still ends the stroke and the mouse look.
TEST_F(MapPageTest, StrokeAndMouseLookEndOutsideTheView) {
    Click(IDC_MAP_RAISE);
    Move(At(0.5, 0.8));
    const D3DXVECTOR3 hit = view->pickRay->hitPoint;
    const QPoint outside = view->mapFromGlobal(tabs->mapToGlobal(tabs->rect().center()));
    for (Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton}) {
        Press(button, At(0.5, 0.8));
        EXPECT_EQ(QWidget::mouseGrabber(), view);
        Release(button, outside);
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    }
    EXPECT_FALSE(Terrain()->editing);
    EXPECT_FALSE(view->mouseLook);
    EXPECT_GT(Terrain()->GetHeight(hit.x, hit.z), 0.0f);
}

TEST_F(MapPageTest, TrackbarsWriteTheTerrainOnEveryRepaint) {
    EXPECT_EQ(Text(IDC_MAP_STRENGTH_EDIT), "10");
    // Past its ends the strength trackbar stops at 50 and 1.
    SetTrackbar(IDC_MAP_STRENGTH_SLIDER, 1000);
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.5f);
    EXPECT_EQ(Text(IDC_MAP_STRENGTH_EDIT), "50");
    SetTrackbar(IDC_MAP_STRENGTH_SLIDER, -1000);
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.01f);
    EXPECT_EQ(Text(IDC_MAP_STRENGTH_EDIT), "1");
    SetTrackbar(IDC_MAP_LOD_SLIDER, 0);
    EXPECT_EQ(Terrain()->lodThreshold, 0.0f);
    EXPECT_EQ(Text(IDC_MAP_LOD_EDIT), "0");
    // A repaint alone writes the position again.
    Terrain()->strength = 0.3f;
    Repaint(Item<CTrackBar>(IDC_MAP_STRENGTH_SLIDER));
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.01f);
}

TEST_F(MapPageTest, NewTerrainDialogMakesTheTerrainOrKeepsIt) {
    Click(IDC_MAP_RAISE);
    Terrain()->vertices[100].y = 42.0f;
    Camera().Walk(500);
    KrTerrain* const kept = Terrain();
    const auto expectKept = [&] {
        EXPECT_EQ(Terrain(), kept);
        EXPECT_EQ(Terrain()->vertices[100].y, 42.0f);
        EXPECT_EQ(Terrain()->brushMode, 1);
        EXPECT_EQ(Camera().position.z, 500.0f);
        EXPECT_EQ(InfoBoxes(), "129,129,10");
    };
    EXPECT_FALSE(RunNewTerrain("65,65,5", /*ok=*/false));
    expectKept();
    // Width, depth and spacing that make no terrain.
    // 2 × 1073741823 fits an int but not the float world size the terrain checks.
    for (const char* values :
         {"1,65,5", "4098,65,5", "65,5000,5", "65,65,0", "4097,4097,2000000", "2,2,1073741823"}) {
        SCOPED_TRACE(values);
        prompts.messages.clear();
        EXPECT_TRUE(RunNewTerrain(values)) << "the dialog stays open";
        ASSERT_EQ(prompts.messages.size(), 1);
        EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("현재 지형은 그대로")));
        expectKept();
    }
    EXPECT_TRUE(CDlgMakeNewTerrain::CheckTerrainSize(2, kMaxTerrainSide, 1).isEmpty());

    prompts.messages.clear();
    tabs->texturePage->AddTextureName("grass.jpg");
    EXPECT_FALSE(RunNewTerrain("65,65,5"));
    EXPECT_EQ(InfoBoxes(), "65,65,5");
    EXPECT_EQ(Terrain()->info.vertsPerRow, 65);
    EXPECT_EQ(Terrain()->info.cellSpacingX, 5.0f);
    EXPECT_EQ(Camera().position.z, 0.0f);
    // The new terrain has no textures to list.
    EXPECT_EQ(DlgItem<CListView>(tabs->texturePage, IDC_TEX_BASE_LIST)->count(), 0);

    EXPECT_FALSE(RunNewTerrain("33,65,4"));
    EXPECT_EQ(InfoBoxes(), "33,65,4");
    EXPECT_EQ(Terrain()->info.vertsPerCol, 65);
    EXPECT_FALSE(RunNewTerrain(" 64abc,9,2.5")); // read as _wtoi does
    EXPECT_EQ(InfoBoxes(), "64,9,2");
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(MapPageTest, SculptModeAndShapeRadiosSetTheBrushAndEndAStroke) {
    EXPECT_TRUE(Item<QAbstractButton>(IDC_MAP_SQUARE)->isChecked());
    EXPECT_EQ(Terrain()->brushShape, kBrushShapeSquare);
    const std::pair<int, int> modes[] = {{IDC_MAP_SMOOTH, kBrushModeSmooth},
                                         {IDC_MAP_SET_HEIGHT, kBrushModeSetHeight},
                                         {IDC_MAP_NOISE, kBrushModeNoise},
                                         {IDC_MAP_RAISE, kBrushModeRaise}};
    for (auto [id, mode] : modes) {
        Terrain()->editing = true;
        Click(id);
        EXPECT_EQ(Terrain()->brushMode, mode);
        EXPECT_FALSE(Terrain()->editing);
    }
    for (auto [id, shape] : {std::pair(IDC_MAP_ROUND, kBrushShapeRound),
                             std::pair(IDC_MAP_SQUARE, kBrushShapeSquare)}) {
        Terrain()->editing = true;
        Click(id);
        EXPECT_EQ(Terrain()->brushShape, shape);
        EXPECT_FALSE(Terrain()->editing);
        // The shape is a choice of its own: the mode stays.
        EXPECT_EQ(Terrain()->brushMode, kBrushModeRaise);
        EXPECT_TRUE(Item<QAbstractButton>(IDC_MAP_RAISE)->isChecked());
    }
}

// Each stroke takes its target height from where its button went down.
TEST_F(MapPageTest, SetHeightTargetsThePointWhereEachStrokeBegins) {
    Click(IDC_MAP_SET_HEIGHT);
    Click(IDC_MAP_ROUND);
    KrTerrain* t = Terrain();
    for (float height : {30.0f, -12.0f}) {
        for (int i = 0; i < t->info.numVertices; ++i)
            t->vertices[i].y = height;
        Move(At(0.5, 0.8));
        Press(Qt::LeftButton, At(0.5, 0.8));
        ASSERT_TRUE(t->pickHit);
        Release(Qt::LeftButton, At(0.5, 0.8));
        EXPECT_EQ(t->setHeightTarget, height);
    }
}

// What the page shows is what the terrain does, at start-up, after a new terrain and after
// a load.
TEST_F(MapPageTest, TheTerrainTakesTheModesThePageShows) {
    for (int id : {IDC_MAP_FLAT, IDC_MAP_RAISE, IDC_MAP_LOWER, IDC_MAP_SMOOTH, IDC_MAP_SET_HEIGHT,
                   IDC_MAP_NOISE})
        EXPECT_FALSE(Item<QAbstractButton>(id)->isChecked()) << id;
    EXPECT_EQ(Terrain()->brushMode, 0);
    EXPECT_TRUE(Item<QAbstractButton>(IDC_MAP_SQUARE)->isChecked());
    EXPECT_EQ(Terrain()->brushShape, kBrushShapeSquare);
    EXPECT_TRUE(Item<QAbstractButton>(IDC_MAP_SOLID)->isChecked());

    Click(IDC_MAP_RAISE);
    Click(IDC_MAP_ROUND);
    Click(IDC_MAP_WIRE);
    SetTrackbar(IDC_MAP_STRENGTH_SLIDER, 30);
    EXPECT_FALSE(RunNewTerrain("129,129,10"));
    QTest::qWait(50);
    EXPECT_EQ(Terrain()->brushMode, 1);
    EXPECT_EQ(Terrain()->brushShape, kBrushShapeRound);
    EXPECT_EQ(Terrain()->fillMode, D3DFILL_WIREFRAME);
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.3f);
    // And a drag then raises, as "올림" says.
    Move(At(0.45, 0.8));
    QTest::qWait(50);
    ASSERT_TRUE(Terrain()->pickHit);
    const D3DXVECTOR3 hit = view->pickRay->hitPoint;
    Press(Qt::LeftButton, At(0.45, 0.8));
    Release(Qt::LeftButton, At(0.45, 0.8));
    EXPECT_GT(Terrain()->GetHeight(hit.x, hit.z), 0.0f);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.mvd"));
    prompts.answers = {{path}};
    ASSERT_TRUE(frame->OnCmdMsg(ID_SAVE_MAP));
    Click(IDC_MAP_NOISE);
    Click(IDC_MAP_POINT);
    // As a terrain that did not follow the page would be.
    Terrain()->brushMode = 0;
    Terrain()->brushShape = kBrushShapeSquare;
    Terrain()->fillMode = D3DFILL_SOLID;
    prompts.answers = {{path}};
    ASSERT_TRUE(frame->OnCmdMsg(ID_LOAD_MAP));
    EXPECT_EQ(Terrain()->brushMode, kBrushModeNoise);
    EXPECT_EQ(Terrain()->brushShape, kBrushShapeRound);
    EXPECT_EQ(Terrain()->fillMode, D3DFILL_POINT);
    EXPECT_TRUE(prompts.messages.isEmpty());
}
