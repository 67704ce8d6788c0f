// The tab menu, the map page and the new terrain dialog, driven through the real window.
#include "pages_fixture.h"

#include "CDlgMakeNewTerrain.h"

#include <QTimer>

#include <climits>
#include <numeric>

using namespace res;

namespace {

double HeightSum(const KrTerrain* terrain) {
    double sum = 0;
    for (int i = 0; i < terrain->info.numVertices; ++i)
        sum += terrain->vertices[i].y;
    return sum;
}

} // namespace

class MapPageTest : public PagesTest {
protected:
    CTerrainMapControl* Page() { return tabs->mapPage; }

    // Runs "지형 새로 만들기", types the three boxes and presses OK, or cancel when ok is
    // false. Returns whether the dialog was still open after OK (it is then cancelled).
    bool RunNewTerrain(const QString& width, const QString& depth, const QString& spacing,
                       bool ok = true) {
        bool stayedOpen = false;
        bool startedEmpty = false;
        CDlgMakeNewTerrain* dialog = Page()->newTerrainDialog.get();
        QTimer::singleShot(0, [&] {
            startedEmpty = GetDlgItemText(dialog, IDC_NEW_WIDTH).isEmpty() &&
                           GetDlgItemText(dialog, IDC_NEW_DEPTH).isEmpty() &&
                           GetDlgItemText(dialog, IDC_NEW_SPACING).isEmpty();
            QTest::keyClicks(DlgItem<QLineEdit>(dialog, IDC_NEW_WIDTH), width);
            QTest::keyClicks(DlgItem<QLineEdit>(dialog, IDC_NEW_DEPTH), depth);
            QTest::keyClicks(DlgItem<QLineEdit>(dialog, IDC_NEW_SPACING), spacing);
            QWidget* button = GetDlgItem(dialog, ok ? IDOK : IDCANCEL);
            QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
            stayedOpen = dialog->isVisible();
            if (stayedOpen)
                dialog->reject();
        });
        Click(Page(), IDC_MAP_NEW_TERRAIN);
        EXPECT_TRUE(startedEmpty);
        EXPECT_FALSE(dialog->isVisible());
        return stayedOpen;
    }

    QStringList InfoBoxes() {
        return {Text(Page(), IDC_MAP_WIDTH), Text(Page(), IDC_MAP_DEPTH),
                Text(Page(), IDC_MAP_SPACING)};
    }
};

TEST(DialogTemplateTest, ReadsIntegersAsWtoiDoes) {
    EXPECT_EQ(WToI(" 64abc"), 64);
    EXPECT_EQ(WToI("2.5"), 2);
    EXPECT_EQ(WToI("\t-7x"), -7);
    EXPECT_EQ(WToI("+12"), 12);
    EXPECT_EQ(WToI("abc"), 0);
    EXPECT_EQ(WToI(""), 0);
    EXPECT_EQ(WToI("- 5"), 0);
    EXPECT_EQ(WToI("99999999999"), INT_MAX);
    EXPECT_EQ(WToI("-99999999999"), INT_MIN);
}

TEST(DialogTemplateTest, PlacesControlsByTheFontsBaseUnits) {
    QWidget form;
    const DialogBaseUnits units = BuildDialog(kDialogMapControl, &form);
    ASSERT_GT(units.baseX, 0);
    ASSERT_GT(units.baseY, 0);
    EXPECT_EQ(form.size(), units.ToPixels(0, 0, 209, 368).size());
    QWidget* button = GetDlgItem(&form, IDC_MAP_NEW_TERRAIN);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->geometry(), units.ToPixels(29, 265, 60, 14));
    EXPECT_EQ(qobject_cast<QAbstractButton*>(button)->text(), QStringLiteral("지형 새로 만들기"));
    // Edges are scaled one by one, so neighbours never drift apart by rounding.
    const DialogBaseUnits odd{7, 15};
    EXPECT_EQ(odd.ToPixels(3, 3, 5, 5), QRect(5, 6, 9, 9));

    // The brush radios and the fill radios are separate groups.
    auto* raise = DlgItem<QAbstractButton>(&form, IDC_MAP_RAISE);
    auto* solid = DlgItem<QAbstractButton>(&form, IDC_MAP_SOLID);
    solid->setChecked(true);
    raise->setChecked(true);
    EXPECT_TRUE(solid->isChecked());
    DlgItem<QAbstractButton>(&form, IDC_MAP_WIRE)->setChecked(true);
    EXPECT_FALSE(solid->isChecked());
    EXPECT_TRUE(raise->isChecked());

    // Disabled value boxes, and list views in list mode.
    QWidget texture;
    BuildDialog(kDialogTextureControl, &texture);
    EXPECT_FALSE(GetDlgItem(&texture, IDC_TEX_INDEX)->isEnabled());
    EXPECT_FALSE(GetDlgItem(&texture, IDC_TEX_SMOOTH_EDIT)->isEnabled());
    auto* list = DlgItem<CListView>(&texture, IDC_TEX_LAYERS);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->viewMode(), QListView::ListMode);
    EXPECT_TRUE(list->isWrapping());
    EXPECT_EQ(GetDlgItem(&texture, -1), nullptr);
}

TEST_F(MapPageTest, TabSelectionChoosesPageAndTool) {
    ASSERT_EQ(tabs->tabControl->count(), 3);
    EXPECT_EQ(tabs->tabControl->tabText(0), QStringLiteral("지형"));
    EXPECT_EQ(tabs->tabControl->tabText(1), QStringLiteral("텍스쳐"));
    EXPECT_EQ(tabs->tabControl->tabText(2), QStringLiteral("조명"));
    EXPECT_EQ(Terrain()->activeTool, 0);
    EXPECT_TRUE(tabs->mapPage->isVisible());
    EXPECT_FALSE(tabs->texturePage->isVisible());
    EXPECT_FALSE(tabs->lightPage->isVisible());

    for (int tab : {1, 2, 0, 2}) {
        SelectTab(tab);
        EXPECT_EQ(Terrain()->activeTool, tab);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(tabs->Page(i)->isVisible(), i == tab) << "tab " << tab << " page " << i;
    }
    // The scrolled form holds the whole visible page.
    EXPECT_TRUE(tabs->form->rect().contains(tabs->lightPage->geometry()));
}

TEST_F(MapPageTest, DragOnTheLightTabEditsNothing) {
    Click(Page(), IDC_MAP_RAISE);
    ASSERT_EQ(Terrain()->brushMode, 1);
    const auto drag = [&] {
        const QPoint centre = At(0.5, 0.9); // ground in front of the start pose
        Move(centre);
        Press(Qt::LeftButton, centre);
        for (int i = 0; i < 10; ++i) {
            Move(centre + QPoint(i, 0));
            QTest::qWait(10);
        }
        Release(Qt::LeftButton, centre + QPoint(10, 0));
        QTest::qWait(20);
    };

    SelectTab(2);
    const double before = HeightSum(Terrain());
    drag();
    EXPECT_EQ(HeightSum(Terrain()), before);

    // The same drag on the map tab raises the ground.
    SelectTab(0);
    drag();
    EXPECT_GT(HeightSum(Terrain()), before);
}

TEST_F(MapPageTest, RadiosSetModesAndEndAStroke) {
    // Checked at start, but no brush until a mode is clicked.
    EXPECT_TRUE(Item<QAbstractButton>(Page(), IDC_MAP_FLAT)->isChecked());
    EXPECT_TRUE(Item<QAbstractButton>(Page(), IDC_MAP_SOLID)->isChecked());
    EXPECT_EQ(Terrain()->brushMode, 0);

    const std::pair<int, int> brush[] = {{IDC_MAP_RAISE, 1}, {IDC_MAP_LOWER, 2}, {IDC_MAP_FLAT, 3}};
    for (auto [id, mode] : brush) {
        Terrain()->editing = true;
        Click(Page(), id);
        EXPECT_EQ(Terrain()->brushMode, mode);
        EXPECT_FALSE(Terrain()->editing);
    }
    const std::pair<int, int> fill[] = {{IDC_MAP_WIRE, 2}, {IDC_MAP_POINT, 1}, {IDC_MAP_SOLID, 3}};
    for (auto [id, mode] : fill) {
        Terrain()->editing = true;
        Click(Page(), id);
        EXPECT_EQ(Terrain()->fillMode, mode);
        EXPECT_FALSE(Terrain()->editing);
        EXPECT_EQ(Terrain()->brushMode, 3); // the other group keeps its choice
    }
}

TEST_F(MapPageTest, TrackbarsWriteTheTerrainOnEveryRepaint) {
    EXPECT_EQ(Terrain()->bigRadius, 25);
    EXPECT_EQ(Terrain()->smallRadius, 20);
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.10f);
    EXPECT_FLOAT_EQ(Terrain()->lodThreshold, 5.0f);
    EXPECT_EQ(Text(Page(), IDC_MAP_BIG_EDIT), "25");
    EXPECT_EQ(Text(Page(), IDC_MAP_STRENGTH_EDIT), "10");

    // The keyboard moves the strength trackbar to its ends, 50 and 1.
    CTrackBar* strength = Item<CTrackBar>(Page(), IDC_MAP_STRENGTH_SLIDER);
    tabs->ensureWidgetVisible(strength);
    QTest::mouseClick(strength, Qt::LeftButton, {}, QPoint(2, strength->height() / 2));
    QTest::keyClick(strength, Qt::Key_End);
    Repaint(strength);
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.5f);
    EXPECT_EQ(Text(Page(), IDC_MAP_STRENGTH_EDIT), "50");
    QTest::keyClick(strength, Qt::Key_Home);
    Repaint(strength);
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.01f);
    EXPECT_EQ(Text(Page(), IDC_MAP_STRENGTH_EDIT), "1");

    SetTrackbar(Page(), IDC_MAP_LOD_SLIDER, 0);
    EXPECT_EQ(Terrain()->lodThreshold, 0.0f);
    EXPECT_EQ(Text(Page(), IDC_MAP_LOD_EDIT), "0");
    SetTrackbar(Page(), IDC_MAP_BIG_SLIDER, 480);
    SetTrackbar(Page(), IDC_MAP_SMALL_SLIDER, 250);
    EXPECT_EQ(Terrain()->bigRadius, 480);
    EXPECT_EQ(Terrain()->smallRadius, 250);
    EXPECT_EQ(Text(Page(), IDC_MAP_SMALL_EDIT), "250");

    // A repaint alone writes the position again.
    Terrain()->strength = 0.3f;
    Repaint(strength);
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.01f);

    // The texture page's trackbars take the radii while it is shown; back on the map tab
    // the map page's values return.
    SelectTab(1);
    QTest::qWait(20);
    EXPECT_EQ(Terrain()->bigRadius, 150);
    EXPECT_EQ(Terrain()->smallRadius, 75);
    SelectTab(0);
    QTest::qWait(20);
    EXPECT_EQ(Terrain()->bigRadius, 480);
    EXPECT_EQ(Terrain()->smallRadius, 250);

    // A hidden page writes nothing.
    SelectTab(2);
    Terrain()->strength = 0.3f;
    Repaint(tabs->form);
    EXPECT_FLOAT_EQ(Terrain()->strength, 0.3f);
}

TEST_F(MapPageTest, NewTerrainIsShownInTheInformationBoxes) {
    EXPECT_EQ(InfoBoxes(), QStringList({"129", "129", "10"}));

    tabs->texturePage->AddTextureName("grass.jpg");
    EXPECT_FALSE(RunNewTerrain("65", "65", "5"));
    EXPECT_EQ(Terrain()->info.vertsPerRow, 65);
    EXPECT_EQ(Terrain()->info.vertsPerCol, 65);
    EXPECT_EQ(Terrain()->info.cellSpacingX, 5.0f);
    EXPECT_EQ(InfoBoxes(), QStringList({"65", "65", "5"}));
    // The new terrain takes the trackbars' values at once, and has no textures to list.
    QTest::qWait(20);
    EXPECT_EQ(Terrain()->bigRadius, 25);
    EXPECT_EQ(Terrain()->smallRadius, 20);
    EXPECT_EQ(DlgItem<CListView>(tabs->texturePage, IDC_TEX_BASE_LIST)->count(), 0);
    EXPECT_EQ(DlgItem<CListView>(tabs->texturePage, IDC_TEX_CANDIDATES)->count(), 0);

    EXPECT_FALSE(RunNewTerrain("33", "65", "4"));
    EXPECT_EQ(Terrain()->info.vertsPerRow, 33);
    EXPECT_EQ(Terrain()->info.vertsPerCol, 65);
    EXPECT_EQ(InfoBoxes(), QStringList({"33", "65", "4"}));
    // The new terrain starts without a brush; the radios keep their selection.
    EXPECT_EQ(Terrain()->brushMode, 0);

    // Read as _wtoi reads: " 64abc" is 64 and 2.5 is 2.
    EXPECT_FALSE(RunNewTerrain(" 64abc", "9", "2.5"));
    EXPECT_EQ(Terrain()->info.vertsPerRow, 64);
    EXPECT_EQ(Terrain()->info.vertsPerCol, 9);
    EXPECT_EQ(Terrain()->info.cellSpacingX, 2.0f);
    EXPECT_EQ(InfoBoxes(), QStringList({"64", "9", "2"}));
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(MapPageTest, CancelAndRefusedSizesKeepTheTerrain) {
    Click(Page(), IDC_MAP_RAISE);
    Terrain()->vertices[100].y = 42.0f;
    Camera().Walk(500);
    const D3DXVECTOR3 cameraAt = Camera().position;
    KrTerrain* const kept = Terrain();

    EXPECT_FALSE(RunNewTerrain("65", "65", "5", /*ok=*/false));
    EXPECT_EQ(Terrain(), kept);
    EXPECT_EQ(Terrain()->vertices[100].y, 42.0f);
    EXPECT_EQ(Camera().position.z, cameraAt.z);
    EXPECT_EQ(InfoBoxes(), QStringList({"129", "129", "10"}));
    EXPECT_TRUE(prompts.messages.isEmpty());

    const QStringList refused[] = {
        {"1", "65", "5"},   {"65", "0", "5"},    {"4098", "65", "5"},
        {"65", "65", "0"},  {"65", "65", "-3"},  {"", "", ""},
        {"abc", "65", "5"}, {"65", "5000", "5"}, {"4097", "4097", "2000000"},
    };
    for (const QStringList& values : refused) {
        SCOPED_TRACE(values.join(',').toStdString());
        prompts.messages.clear();
        EXPECT_TRUE(RunNewTerrain(values[0], values[1], values[2])) << "the dialog stays open";
        ASSERT_EQ(prompts.messages.size(), 1);
        EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("현재 지형은 그대로")));
        EXPECT_EQ(Terrain(), kept);
        EXPECT_EQ(Terrain()->info.vertsPerRow, 129);
        EXPECT_EQ(Terrain()->vertices[100].y, 42.0f);
        EXPECT_EQ(Terrain()->brushMode, 1);
        EXPECT_EQ(InfoBoxes(), QStringList({"129", "129", "10"}));
    }
    EXPECT_TRUE(CDlgMakeNewTerrain::CheckTerrainSize(2, kMaxTerrainSide, 1).isEmpty());
    EXPECT_TRUE(CDlgMakeNewTerrain::CheckTerrainSize(1, 65, 5).contains("Width"));
    EXPECT_TRUE(CDlgMakeNewTerrain::CheckTerrainSize(65, 65, 0).contains("CellSpacing"));
}

TEST_F(MapPageTest, CameraResetReturnsToTheStartPose) {
    KrCamera start;
    start.Reset();
    Camera().Walk(300);
    Camera().RotateY(0.7f, 0);
    Click(Page(), IDC_MAP_RESET_CAMERA);
    EXPECT_FLOAT_EQ(Camera().position.x, start.position.x);
    EXPECT_FLOAT_EQ(Camera().position.y, start.position.y);
    EXPECT_FLOAT_EQ(Camera().position.z, start.position.z);
    EXPECT_FLOAT_EQ(Camera().look.x, start.look.x);
    EXPECT_FLOAT_EQ(Camera().look.z, start.look.z);
    // The device has the start view.
    D3DXMATRIX expected;
    start.GetViewMatrix(&expected);
    D3DMATRIX onDevice{};
    Device()->GetTransform(D3DTS_VIEW, &onDevice);
    EXPECT_FLOAT_EQ(onDevice._41, expected._41);
    EXPECT_FLOAT_EQ(onDevice._43, expected._43);
}
