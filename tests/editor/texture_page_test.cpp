// The texture page: base textures and splatting layers.
#include "editor_fixture.h"

#include <QStatusBar>

#include <algorithm>

using namespace res;

namespace {
const QString kGrass = QStringLiteral(VELDMARK_TEST_DATA "/images/grass.jpg");
const QString kPalette = QStringLiteral(VELDMARK_TEST_DATA "/images/palette.png");
} // namespace

class TexturePageTest : public PagesTest {
protected:
    TexturePageTest() : PagesTest(1) {}

    QString Rows(int id) {
        QStringList rows;
        for (int i = 0; i < Item<CListView>(id)->count(); ++i)
            rows << Item<CListView>(id)->item(i)->text();
        return rows.join(',');
    }
    // Row -1 is the empty space below the rows.
    void ClickRow(int list, int row, QTest::MouseAction action = QTest::MouseClick) {
        CListView* view = Item<CListView>(list);
        const QPoint at = row < 0 ? view->viewport()->rect().bottomRight() - QPoint(2, 2)
                                  : view->visualItemRect(view->item(row)).center();
        QTest::mouseEvent(action, view->viewport(), Qt::LeftButton, {}, at);
    }
    std::vector<int32_t> LayerTextures() {
        std::vector<int32_t> indexes;
        for (const KrSplatLayer& layer : Terrain()->splatLayers)
            indexes.push_back(layer.textureIndex);
        return indexes;
    }
};

TEST_F(TexturePageTest, LoadChooseBaseAndDeleteAtSelectIndex) {
    // A file that fails to load gets no row, so the rows keep naming the right textures.
    prompts.answers = {
        {kGrass, QStringLiteral(VELDMARK_TEST_DATA "/images/garbage.png"), kPalette}};
    EXPECT_TRUE(frame->OnCmdMsg(ID_LOAD_TEXTURE));
    ASSERT_EQ(Terrain()->textures.size(), 2u);
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), "grass.jpg,palette.png");
    EXPECT_EQ(Rows(IDC_TEX_CANDIDATES), "grass.jpg,palette.png");
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("garbage.png")));
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("불러오지 못했습니다")));

    ClickRow(IDC_TEX_BASE_LIST, 1, QTest::MouseDClick);
    EXPECT_EQ(Terrain()->baseTexture, 1);
    EXPECT_EQ(Text(IDC_TEX_INDEX), "1");
    // Empty space shows -1, keeps the base texture, and "Select Index" -1 deletes nothing.
    ClickRow(IDC_TEX_BASE_LIST, -1, QTest::MouseDClick);
    EXPECT_EQ(Text(IDC_TEX_INDEX), "-1");
    EXPECT_EQ(Terrain()->baseTexture, 1);
    Click(IDC_TEX_DELETE);
    EXPECT_EQ(Terrain()->textures.size(), 2u);

    KrTextureEntry* second = Terrain()->textures[1];
    ClickRow(IDC_TEX_BASE_LIST, 0, QTest::MouseDClick);
    EXPECT_EQ(Terrain()->baseTexture, 0);
    Click(IDC_TEX_DELETE);
    ASSERT_EQ(Terrain()->textures.size(), 1u);
    EXPECT_EQ(Terrain()->textures[0], second);
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), "palette.png");
    EXPECT_EQ(Rows(IDC_TEX_CANDIDATES), "palette.png");
}

TEST_F(TexturePageTest, RegisterTwiceScaleAndRemoveLayers) {
    prompts.answers = {{kGrass}};
    Click(IDC_TEX_ADD);
    Click(IDC_TEX_REGISTER); // nothing selected
    EXPECT_TRUE(Terrain()->splatLayers.empty());
    ClickRow(IDC_TEX_CANDIDATES, 0);
    Click(IDC_TEX_REGISTER);
    ClickRow(IDC_TEX_CANDIDATES, 0, QTest::MouseDClick); // a double click registers as well
    ASSERT_EQ(Terrain()->splatLayers.size(), 2u);
    EXPECT_EQ(LayerTextures(), std::vector<int32_t>({0, 0}));
    EXPECT_NE(Terrain()->alphaMaps[0], Terrain()->alphaMaps[1]);
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), "grass.jpg,grass.jpg");
    EXPECT_EQ(Terrain()->selectedLayer, 1);

    SetTrackbar(IDC_TEX_LAYER_SCALE, 250);
    EXPECT_EQ(Terrain()->splatLayers[1].mappingScale, 250.0f);
    EXPECT_EQ(Terrain()->splatLayers[0].mappingScale, 1.0f);
    EXPECT_EQ(Text(IDC_TEX_LAYER_SCALE_EDIT), "250");
    ClickRow(IDC_TEX_LAYERS, 0, QTest::MouseDClick);
    EXPECT_EQ(Terrain()->selectedLayer, 0);
    EXPECT_EQ(Item<CTrackBar>(IDC_TEX_LAYER_SCALE)->value(), 1);

    // Removing the highlighted layer highlights, and paints, its neighbour, and the scale
    // trackbar shows the neighbour's scale rather than writing its own over it.
    ClickRow(IDC_TEX_LAYERS, 0);
    Click(IDC_TEX_UNREGISTER);
    ASSERT_EQ(Terrain()->splatLayers.size(), 1u);
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), "grass.jpg");
    EXPECT_EQ(Item<CListView>(IDC_TEX_LAYERS)->FirstSelected(), 0);
    EXPECT_EQ(Terrain()->selectedLayer, 0);
    Repaint(Item<CTrackBar>(IDC_TEX_LAYER_SCALE));
    EXPECT_EQ(Terrain()->splatLayers[0].mappingScale, 250.0f);
    SetTrackbar(IDC_TEX_LAYER_SCALE, 300);
    EXPECT_EQ(Terrain()->splatLayers[0].mappingScale, 300.0f);

    // The last one gone, nothing is highlighted, the trackbar changes nothing, and a stroke
    // says why it paints nothing.
    Click(IDC_TEX_UNREGISTER);
    EXPECT_TRUE(Terrain()->splatLayers.empty());
    EXPECT_EQ(Item<CListView>(IDC_TEX_LAYERS)->FirstSelected(), -1);
    EXPECT_EQ(Terrain()->selectedLayer, -1);
    SetTrackbar(IDC_TEX_LAYER_SCALE, 40);
    Move(At(0.5, 0.8));
    Press(Qt::LeftButton, At(0.5, 0.8));
    Release(Qt::LeftButton, At(0.5, 0.8));
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains(QStringLiteral("선택된 텍스쳐")));
}

namespace {
// Whether a stroke's paint reached this alpha map.
bool Painted(const KrTextureEntry* map) {
    const auto* texture = static_cast<const MemoryTexture*>(map->texture);
    const std::vector<uint8_t>& bits = texture->levels[0].bits;
    return std::any_of(bits.begin(), bits.end(), [](uint8_t b) { return b != 0; });
}
} // namespace

TEST_F(TexturePageTest, ArrowsSwapLayersAndTheirRowsAndTheHighlightedLayerIsPainted) {
    prompts.answers = {{kGrass, kPalette}};
    Click(IDC_TEX_ADD);
    for (int row : {0, 1}) {
        ClickRow(IDC_TEX_CANDIDATES, row);
        Click(IDC_TEX_REGISTER);
    }
    EXPECT_EQ(Item<CListView>(IDC_TEX_LAYERS)->FirstSelected(), 1); // the one just made
    EXPECT_EQ(Terrain()->selectedLayer, 1);
    KrTextureEntry* firstMap = Terrain()->alphaMaps[0];
    ClickRow(IDC_TEX_LAYERS, 0);
    EXPECT_EQ(Terrain()->selectedLayer, 0);
    Click(IDC_TEX_DOWN);
    EXPECT_EQ(LayerTextures(), std::vector<int32_t>({1, 0}));
    EXPECT_EQ(Terrain()->alphaMaps[1], firstMap);
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), "palette.png,grass.jpg");
    EXPECT_EQ(Item<CListView>(IDC_TEX_LAYERS)->FirstSelected(), 1);
    EXPECT_EQ(Terrain()->selectedLayer, 1);
    // A stroke paints the highlighted grass layer, and only it.
    Move(At(0.5, 0.75));
    QTest::qWait(50);
    Press(Qt::LeftButton, At(0.5, 0.75));
    Release(Qt::LeftButton, At(0.5, 0.75));
    EXPECT_TRUE(Painted(firstMap));
    EXPECT_FALSE(Painted(Terrain()->alphaMaps[0]));
    Click(IDC_TEX_DOWN); // already last
    EXPECT_EQ(LayerTextures(), std::vector<int32_t>({1, 0}));
    Click(IDC_TEX_UP);
    Click(IDC_TEX_UP); // already first
    EXPECT_EQ(LayerTextures(), std::vector<int32_t>({0, 1}));
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), "grass.jpg,palette.png");
}

TEST_F(TexturePageTest, AutoPaintFillsTheSelectedLayerFromTheBoxes) {
    // What the boxes start with: gentle ground at any height.
    QStringList shown;
    for (int id : {IDC_TEX_AUTO_SLOPE_MIN, IDC_TEX_AUTO_SLOPE_MAX, IDC_TEX_AUTO_SLOPE_SOFT,
                   IDC_TEX_AUTO_HEIGHT_MIN, IDC_TEX_AUTO_HEIGHT_MAX, IDC_TEX_AUTO_HEIGHT_SOFT})
        shown << Text(id);
    EXPECT_EQ(shown.join(','), "0,30,5,-10000,10000,0");

    Click(IDC_TEX_AUTO_PAINT); // no layer yet
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].startsWith(QStringLiteral("자동 칠하기 | ")));

    prompts.answers = {{kGrass}};
    Click(IDC_TEX_ADD);
    for (int i = 0; i < 2; ++i) {
        ClickRow(IDC_TEX_CANDIDATES, 0);
        Click(IDC_TEX_REGISTER);
    }
    ASSERT_EQ(Terrain()->selectedLayer, 1);
    const auto cover = [this](size_t layer, int x, int y) {
        return static_cast<MemoryTexture*>(Terrain()->alphaMaps[layer]->texture)->Texel(0, x, y) &
               0xFF;
    };
    // The flat default terrain at height 0: inside the boxes' ranges, then below them.
    Click(IDC_TEX_AUTO_PAINT);
    for (auto [x, y] : {std::pair(0, 0), std::pair(512, 300), std::pair(1023, 1023)}) {
        EXPECT_EQ(cover(1, x, y), 255u);
        EXPECT_EQ(cover(0, x, y), 0u);
    }
    SetDlgItemText(page, IDC_TEX_AUTO_HEIGHT_MIN, QStringLiteral("20"));
    SetDlgItemText(page, IDC_TEX_AUTO_HEIGHT_SOFT, QStringLiteral("40"));
    Click(IDC_TEX_AUTO_PAINT);
    EXPECT_EQ(cover(1, 512, 300), 128u); // half way across the 40 soft edge
    SetDlgItemText(page, IDC_TEX_AUTO_HEIGHT_SOFT, QStringLiteral("0"));
    Click(IDC_TEX_AUTO_PAINT);
    EXPECT_EQ(cover(1, 512, 300), 0u);
    EXPECT_EQ(prompts.messages.size(), 1);
}
