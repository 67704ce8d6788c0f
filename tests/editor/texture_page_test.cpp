// The texture page: base textures, splatting layers and the paint settings.
#include "pages_fixture.h"

using namespace res;

namespace {

const QString kGrass = QStringLiteral(VELDMARK_TEST_DATA "/images/grass.jpg");
const QString kPalette = QStringLiteral(VELDMARK_TEST_DATA "/images/palette.png");

} // namespace

class TexturePageTest : public PagesTest {
protected:
    void SetUp() override {
        PagesTest::SetUp();
        if (HasFatalFailure())
            return;
        SelectTab(1);
    }

    CTerrainTextureControl* Page() { return tabs->texturePage; }
    CListView* List(int id) { return Item<CListView>(Page(), id); }

    QStringList Rows(int id) {
        QStringList rows;
        for (int i = 0; i < List(id)->count(); ++i)
            rows << List(id)->item(i)->text();
        return rows;
    }

    void LoadTextures(const QStringList& paths) {
        prompts.answers.push_back(paths);
        Click(Page(), IDC_TEX_ADD);
    }

    void ClickRow(int list, int row) {
        CListView* view = List(list);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                          view->visualItemRect(view->item(row)).center());
    }
    void DoubleClickRow(int list, int row) {
        CListView* view = List(list);
        const QPoint at =
            row < 0 ? QPoint(view->viewport()->width() - 3, view->viewport()->height() - 3)
                    : view->visualItemRect(view->item(row)).center();
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    }

    std::vector<int32_t> LayerTextures() {
        std::vector<int32_t> indexes;
        for (const KrSplatLayer& layer : Terrain()->splatLayers)
            indexes.push_back(layer.textureIndex);
        return indexes;
    }
};

TEST_F(TexturePageTest, TwoTexturesLoadedAndTheSecondChosenAsBase) {
    LoadTextures({kGrass, kPalette});
    ASSERT_EQ(Terrain()->textures.size(), 2u);
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), QStringList({"grass.jpg", "palette.png"}));
    EXPECT_EQ(Rows(IDC_TEX_CANDIDATES), QStringList({"grass.jpg", "palette.png"}));
    EXPECT_EQ(Text(Page(), IDC_TEX_INDEX), "1");

    DoubleClickRow(IDC_TEX_BASE_LIST, 0);
    EXPECT_EQ(Terrain()->baseTexture, 0);
    EXPECT_EQ(Text(Page(), IDC_TEX_INDEX), "0");

    // The second row, with the trackbar moved to the terrain's base mapping scale.
    Terrain()->baseMappingScale = 7.9f;
    DoubleClickRow(IDC_TEX_BASE_LIST, 1);
    EXPECT_EQ(Terrain()->baseTexture, 1);
    EXPECT_EQ(Text(Page(), IDC_TEX_INDEX), "1");
    EXPECT_EQ(Item<CTrackBar>(Page(), IDC_TEX_BASE_SCALE)->value(), 7);
    Repaint(Item<CTrackBar>(Page(), IDC_TEX_BASE_SCALE));
    EXPECT_EQ(Terrain()->baseMappingScale, 7.0f);
    EXPECT_EQ(Text(Page(), IDC_TEX_BASE_SCALE_EDIT), "7");

    // Empty space shows -1 and keeps the base texture.
    DoubleClickRow(IDC_TEX_BASE_LIST, -1);
    EXPECT_EQ(Text(Page(), IDC_TEX_INDEX), "-1");
    EXPECT_EQ(Terrain()->baseTexture, 1);
}

TEST_F(TexturePageTest, DeleteRemovesTheTextureAtSelectIndex) {
    LoadTextures({kGrass, kPalette});
    ASSERT_EQ(Terrain()->textures.size(), 2u);
    KrTextureEntry* second = Terrain()->textures[1];
    DoubleClickRow(IDC_TEX_BASE_LIST, 0);
    ASSERT_EQ(Text(Page(), IDC_TEX_INDEX), "0");

    Click(Page(), IDC_TEX_DELETE);
    ASSERT_EQ(Terrain()->textures.size(), 1u);
    EXPECT_EQ(Terrain()->textures[0], second);
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), QStringList({"palette.png"}));
    EXPECT_EQ(Rows(IDC_TEX_CANDIDATES), QStringList({"palette.png"}));

    // An index that names no row removes nothing.
    DoubleClickRow(IDC_TEX_BASE_LIST, -1);
    Click(Page(), IDC_TEX_DELETE);
    EXPECT_EQ(Terrain()->textures.size(), 1u);
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), QStringList({"palette.png"}));
}

TEST_F(TexturePageTest, RegisterTwiceScaleAndRemoveLayers) {
    LoadTextures({kGrass});
    ASSERT_EQ(Terrain()->textures.size(), 1u);

    // Nothing selected registers nothing.
    Click(Page(), IDC_TEX_REGISTER);
    EXPECT_TRUE(Terrain()->splatLayers.empty());
    EXPECT_EQ(List(IDC_TEX_LAYERS)->count(), 0);

    ClickRow(IDC_TEX_CANDIDATES, 0);
    Click(Page(), IDC_TEX_REGISTER);
    EXPECT_EQ(Terrain()->selectedLayer, 0);
    DoubleClickRow(IDC_TEX_CANDIDATES, 0); // a double click registers as well
    ASSERT_EQ(Terrain()->splatLayers.size(), 2u);
    ASSERT_EQ(Terrain()->alphaMaps.size(), 2u);
    EXPECT_EQ(LayerTextures(), std::vector<int32_t>({0, 0}));
    EXPECT_NE(Terrain()->alphaMaps[0], Terrain()->alphaMaps[1]);
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), QStringList({"grass.jpg", "grass.jpg"}));
    EXPECT_EQ(Terrain()->selectedLayer, 1);

    SetTrackbar(Page(), IDC_TEX_LAYER_SCALE, 250);
    EXPECT_EQ(Terrain()->splatLayers[1].mappingScale, 250.0f);
    EXPECT_EQ(Terrain()->splatLayers[0].mappingScale, 1.0f);
    EXPECT_EQ(Text(Page(), IDC_TEX_LAYER_SCALE_EDIT), "250");

    // Double-clicking the first layer selects it and shows its scale.
    DoubleClickRow(IDC_TEX_LAYERS, 0);
    EXPECT_EQ(Terrain()->selectedLayer, 0);
    EXPECT_EQ(Item<CTrackBar>(Page(), IDC_TEX_LAYER_SCALE)->value(), 1);

    // Removing it leaves no current layer, so the trackbar changes no layer.
    ClickRow(IDC_TEX_LAYERS, 0);
    Click(Page(), IDC_TEX_UNREGISTER);
    ASSERT_EQ(Terrain()->splatLayers.size(), 1u);
    EXPECT_EQ(Terrain()->splatLayers[0].mappingScale, 250.0f);
    EXPECT_EQ(List(IDC_TEX_LAYERS)->count(), 1);
    EXPECT_EQ(Terrain()->selectedLayer, -1);
    SetTrackbar(Page(), IDC_TEX_LAYER_SCALE, 300);
    EXPECT_EQ(Terrain()->splatLayers[0].mappingScale, 250.0f);

    // Remove with nothing selected does nothing.
    List(IDC_TEX_LAYERS)->clearSelection();
    Click(Page(), IDC_TEX_UNREGISTER);
    EXPECT_EQ(Terrain()->splatLayers.size(), 1u);
    EXPECT_EQ(List(IDC_TEX_LAYERS)->count(), 1);
}

TEST_F(TexturePageTest, ArrowsSwapLayersAndTheirRows) {
    LoadTextures({kGrass, kPalette});
    ClickRow(IDC_TEX_CANDIDATES, 0);
    Click(Page(), IDC_TEX_REGISTER);
    ClickRow(IDC_TEX_CANDIDATES, 1);
    Click(Page(), IDC_TEX_REGISTER);
    ASSERT_EQ(LayerTextures(), std::vector<int32_t>({0, 1}));
    KrTextureEntry* firstMap = Terrain()->alphaMaps[0];

    ClickRow(IDC_TEX_LAYERS, 0);
    Click(Page(), IDC_TEX_DOWN);
    EXPECT_EQ(LayerTextures(), std::vector<int32_t>({1, 0}));
    EXPECT_EQ(Terrain()->alphaMaps[1], firstMap);
    // Each name stays beside its layer, and the moved row stays selected.
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), QStringList({"palette.png", "grass.jpg"}));
    EXPECT_EQ(List(IDC_TEX_LAYERS)->FirstSelected(), 1);

    Click(Page(), IDC_TEX_DOWN); // already last
    EXPECT_EQ(LayerTextures(), std::vector<int32_t>({1, 0}));
    Click(Page(), IDC_TEX_UP);
    EXPECT_EQ(LayerTextures(), std::vector<int32_t>({0, 1}));
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), QStringList({"grass.jpg", "palette.png"}));
    Click(Page(), IDC_TEX_UP); // already first
    EXPECT_EQ(LayerTextures(), std::vector<int32_t>({0, 1}));
}

TEST_F(TexturePageTest, PaintModeAndBrushTrackbars) {
    EXPECT_TRUE(Item<QAbstractButton>(Page(), IDC_TEX_DRAW)->isChecked());
    EXPECT_EQ(Terrain()->paintMode, 1);
    Click(Page(), IDC_TEX_ERASE);
    EXPECT_EQ(Terrain()->paintMode, 0);
    Click(Page(), IDC_TEX_DRAW);
    EXPECT_EQ(Terrain()->paintMode, 1);

    EXPECT_EQ(Terrain()->bigRadius, 150);
    EXPECT_EQ(Terrain()->smallRadius, 75);
    SetTrackbar(Page(), IDC_TEX_STRENGTH, 40);
    SetTrackbar(Page(), IDC_TEX_SMOOTH, 90);
    EXPECT_EQ(Terrain()->smallRadius, 40);
    EXPECT_EQ(Terrain()->bigRadius, 90);
    EXPECT_FLOAT_EQ(Terrain()->splatInnerRadius, 20.0f);
    EXPECT_EQ(Text(Page(), IDC_TEX_SMOOTH_EDIT), "90");
    EXPECT_EQ(Text(Page(), IDC_TEX_STRENGTH_EDIT), "40");
    SetTrackbar(Page(), IDC_TEX_BASE_SCALE, 500);
    EXPECT_EQ(Terrain()->baseMappingScale, 500.0f);
}
