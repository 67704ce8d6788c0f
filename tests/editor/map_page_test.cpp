// The dialog templates, the tab menu, the map page and the new terrain dialog.
#include "editor_fixture.h"

#include "CDlgMakeNewTerrain.h"

#include <QLineEdit>
#include <QTimer>

#include <climits>

using namespace res;

class MapPageTest : public PagesTest {
protected:
    MapPageTest() : PagesTest(0) {}

    // Runs "지형 새로 만들기", types width, depth and spacing and presses OK (or cancel).
    // Returns whether the dialog was still open after OK; it is then cancelled.
    bool RunNewTerrain(const QStringList& values, bool ok = true) {
        bool stayedOpen = false;
        int emptyBoxes = 0;
        CDlgMakeNewTerrain* dialog = tabs->mapPage->newTerrainDialog.get();
        QTimer::singleShot(0, [&] {
            const int boxes[] = {IDC_NEW_WIDTH, IDC_NEW_DEPTH, IDC_NEW_SPACING};
            for (int i = 0; i < 3; ++i) {
                emptyBoxes += GetDlgItemText(dialog, boxes[i]).isEmpty();
                QTest::keyClicks(DlgItem<QLineEdit>(dialog, boxes[i]), values[i]);
            }
            QWidget* button = GetDlgItem(dialog, ok ? IDOK : IDCANCEL);
            QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
            stayedOpen = dialog->isVisible();
            if (stayedOpen)
                dialog->reject();
        });
        Click(IDC_MAP_NEW_TERRAIN);
        EXPECT_EQ(emptyBoxes, 3);
        EXPECT_FALSE(dialog->isVisible());
        return stayedOpen;
    }
    QStringList InfoBoxes() {
        return {Text(IDC_MAP_WIDTH), Text(IDC_MAP_DEPTH), Text(IDC_MAP_SPACING)};
    }
};

TEST(DialogTemplateTest, ReadsIntegersAsWtoiAndPlacesControlsByBaseUnits) {
    EXPECT_EQ(WToI(" 64abc"), 64);
    EXPECT_EQ(WToI("2.5"), 2);
    EXPECT_EQ(WToI("\t-7x"), -7);
    EXPECT_EQ(WToI("- 5"), 0);
    EXPECT_EQ(WToI("99999999999"), INT_MAX);
    EXPECT_EQ(WToI("-99999999999"), INT_MIN);

    QWidget form;
    const DialogBaseUnits units = BuildDialog(kDialogMapControl, &form);
    EXPECT_EQ(form.size(), units.ToPixels(0, 0, 209, 368).size());
    auto* button = DlgItem<QAbstractButton>(&form, IDC_MAP_NEW_TERRAIN);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->geometry(), units.ToPixels(29, 265, 60, 14));
    EXPECT_EQ(button->text(), QStringLiteral("지형 새로 만들기"));
    // Edges are scaled one by one, so neighbours never drift apart by rounding.
    EXPECT_EQ((DialogBaseUnits{7, 15}.ToPixels(3, 3, 5, 5)), QRect(5, 6, 9, 9));
}

TEST_F(MapPageTest, TabSelectionChoosesPageAndTool) {
    const QStringList names = {"지형", "텍스쳐", "조명"};
    ASSERT_EQ(tabs->tabControl->count(), 3);
    for (int tab : {0, 1, 2, 0, 2}) {
        SelectTab(tab);
        EXPECT_EQ(tabs->tabControl->tabText(tab), names[tab]);
        EXPECT_EQ(Terrain()->activeTool, tab);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(tabs->Page(i)->isVisible(), i == tab) << "tab " << tab << " page " << i;
    }
    // The scrolled form holds the whole visible page.
    EXPECT_TRUE(tabs->form->rect().contains(tabs->lightPage->geometry()));
}

// On the memory device, too: keys move the camera, frames are drawn without the call log
// growing, and a button released outside the view still ends the stroke and the mouse look.
TEST_F(MapPageTest, StrokeAndMouseLookEndOutsideTheView) {
    ASSERT_EQ(view->GlWindow(), nullptr);
    const size_t logged = Device()->log.size();
    const int presents = Device()->presents;
    Key(QTest::Click, Qt::Key_S);
    EXPECT_FLOAT_EQ(Camera().position.z, -10.0f);

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
    QTest::qWait(100);
    EXPECT_GT(Terrain()->GetHeight(hit.x, hit.z), 0.0f);
    EXPECT_GT(Device()->presents, presents);
    EXPECT_EQ(Device()->log.size(), logged);
}

TEST_F(MapPageTest, RadiosSetModesAndEndAStroke) {
    // Both checked at start: the brush and fill radios are separate groups. No brush yet.
    EXPECT_TRUE(Item<QAbstractButton>(IDC_MAP_FLAT)->isChecked());
    EXPECT_TRUE(Item<QAbstractButton>(IDC_MAP_SOLID)->isChecked());
    EXPECT_EQ(Terrain()->brushMode, 0);
    const int clicks[][3] = {{IDC_MAP_RAISE, 1, 3}, {IDC_MAP_LOWER, 2, 3}, {IDC_MAP_FLAT, 3, 3},
                             {IDC_MAP_WIRE, 3, 2},  {IDC_MAP_POINT, 3, 1}, {IDC_MAP_SOLID, 3, 3}};
    for (auto [id, brush, fill] : clicks) {
        Terrain()->editing = true;
        Click(id);
        EXPECT_EQ(Terrain()->brushMode, brush) << id;
        EXPECT_EQ(Terrain()->fillMode, fill) << id;
        EXPECT_FALSE(Terrain()->editing);
    }
}

TEST_F(MapPageTest, TrackbarsWriteTheTerrainOnEveryRepaint) {
    EXPECT_EQ(Terrain()->smallRadius, 20);
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
    SetTrackbar(IDC_MAP_BIG_SLIDER, 480);
    SetTrackbar(IDC_MAP_SMALL_SLIDER, 250);
    EXPECT_EQ(Terrain()->bigRadius, 480);
    EXPECT_EQ(Text(IDC_MAP_SMALL_EDIT), "250");

    // A repaint alone writes the position again.
    Terrain()->strength = 0.3f;
    Repaint(Item<CTrackBar>(IDC_MAP_STRENGTH_SLIDER));
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.01f);

    // The texture page's trackbars take the radii while it is shown, and the map page's
    // come back with its tab.
    SelectTab(1);
    EXPECT_EQ(Terrain()->bigRadius, 150);
    EXPECT_EQ(Terrain()->smallRadius, 75);
    SelectTab(0);
    EXPECT_EQ(Terrain()->bigRadius, 480);
    EXPECT_EQ(Terrain()->smallRadius, 250);
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
        EXPECT_EQ(InfoBoxes(), QStringList({"129", "129", "10"}));
    };
    EXPECT_FALSE(RunNewTerrain({"65", "65", "5"}, /*ok=*/false));
    expectKept();
    // Width, depth and spacing that make no terrain.
    for (const QString& values :
         QString("1,65,5 4098,65,5 65,5000,5 65,65,0 4097,4097,2000000").split(' ')) {
        SCOPED_TRACE(values.toStdString());
        prompts.messages.clear();
        EXPECT_TRUE(RunNewTerrain(values.split(','))) << "the dialog stays open";
        ASSERT_EQ(prompts.messages.size(), 1);
        EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("현재 지형은 그대로")));
        expectKept();
    }
    EXPECT_TRUE(CDlgMakeNewTerrain::CheckTerrainSize(2, kMaxTerrainSide, 1).isEmpty());

    prompts.messages.clear();
    tabs->texturePage->AddTextureName("grass.jpg");
    EXPECT_FALSE(RunNewTerrain({"65", "65", "5"}));
    EXPECT_EQ(InfoBoxes(), QStringList({"65", "65", "5"}));
    EXPECT_EQ(Terrain()->info.vertsPerRow, 65);
    EXPECT_EQ(Terrain()->info.cellSpacingX, 5.0f);
    EXPECT_EQ(Camera().position.z, 0.0f);
    // The new terrain takes the trackbars' values at once, starts without a brush and has
    // no textures to list.
    QTest::qWait(20);
    EXPECT_EQ(Terrain()->bigRadius, 25);
    EXPECT_EQ(Terrain()->brushMode, 0);
    EXPECT_EQ(DlgItem<CListView>(tabs->texturePage, IDC_TEX_BASE_LIST)->count(), 0);
    EXPECT_EQ(DlgItem<CListView>(tabs->texturePage, IDC_TEX_CANDIDATES)->count(), 0);

    EXPECT_FALSE(RunNewTerrain({"33", "65", "4"}));
    EXPECT_EQ(InfoBoxes(), QStringList({"33", "65", "4"}));
    EXPECT_EQ(Terrain()->info.vertsPerCol, 65);
    EXPECT_FALSE(RunNewTerrain({" 64abc", "9", "2.5"}));
    EXPECT_EQ(InfoBoxes(), QStringList({"64", "9", "2"}));
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(MapPageTest, CameraResetReturnsToTheStartPose) {
    KrCamera start;
    start.Reset();
    Camera().Walk(300);
    Camera().RotateY(0.7f, 0);
    Click(IDC_MAP_RESET_CAMERA);
    EXPECT_EQ(Camera().position, start.position);
    EXPECT_EQ(Camera().look, start.look);
    D3DXMATRIX expected;
    start.GetViewMatrix(&expected);
    D3DMATRIX onDevice{};
    Device()->GetTransform(D3DTS_VIEW, &onDevice);
    EXPECT_FLOAT_EQ(onDevice._43, expected._43);
}
