// The painting saved and loaded with the terrain, and heightmaps in and out through the
// File menu, answered through the dialog seam.
#include "editor_fixture.h"

#include "heightmap.h"
#include "splat_file.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fstream>

using namespace res;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const QString& path) {
    std::ifstream in(QFile::encodeName(path).toStdString(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
void WriteFile(const QString& path, const Bytes& b) {
    std::ofstream(QFile::encodeName(path).toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), b.size());
}

std::vector<float> Heights(const KrTerrain* t) {
    std::vector<float> y;
    for (int32_t i = 0; i < t->info.numVertices; ++i)
        y.push_back(t->vertices[i].y);
    return y;
}

} // namespace

class InterchangeTest : public PagesTest {
protected:
    InterchangeTest() : PagesTest(1) {}

    void SetUp() override {
        PagesTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        for (const char* name : {"grass.jpg", "palette.png"})
            ASSERT_TRUE(
                QFile::copy(QStringLiteral(VELDMARK_TEST_DATA "/images/") + name, Path(name)));
    }
    QString Path(const QString& name) const { return dir.filePath(name); }
    QString Rows(int id) {
        QStringList rows;
        for (int i = 0; i < Item<CListView>(id)->count(); ++i)
            rows << Item<CListView>(id)->item(i)->text();
        return rows.join(',');
    }
    void Command(int id, QStringList answer) {
        prompts.answers = {answer};
        EXPECT_TRUE(frame->OnCmdMsg(id));
    }
    // A heightmap file of these heights in the format its name says.
    void MakeHeightmap(const QString& name, int32_t w, int32_t d, const std::vector<float>& h,
                       HeightRange range) {
        Bytes bytes;
        std::string error;
        ASSERT_TRUE(EncodeHeightmap(HeightmapFormatOf(name.toStdString()), w, d, h.data(), range,
                                    &bytes, nullptr, &error))
            << error;
        WriteFile(Path(name), bytes);
    }

    QTemporaryDir dir;
};

TEST_F(InterchangeTest, SaveWritesThePaintingAndLoadRestoresItOnThePage) {
    Command(ID_LOAD_TEXTURE, {Path("grass.jpg"), Path("palette.png")});
    for (int row : {1, 0})
        Item<CListView>(IDC_TEX_CANDIDATES)->rowDoubleClicked(row);
    Item<CListView>(IDC_TEX_BASE_LIST)->rowDoubleClicked(0);
    SetTrackbar(IDC_TEX_BASE_SCALE, 12);
    SetTrackbar(IDC_TEX_LAYER_SCALE, 7); // the layer just registered, the highlighted one
    KrTerrain* t = Terrain();
    ASSERT_EQ(t->splatLayers.size(), 2u);
    ASSERT_EQ(t->splatLayers[1].mappingScale, 7.0f);
    auto* map = static_cast<MemoryTexture*>(t->alphaMaps[1]->texture);
    map->levels[0].bits[4 * (1024 * 7 + 9)] = 200;
    const Bytes painted = map->levels[0].bits;

    Command(ID_SAVE_MAP, {Path("valley.mvd")});
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();
    ASSERT_TRUE(QFileInfo::exists(Path("valley.vmsplat")));

    // A new, empty terrain; one texture file goes missing; the saved terrain comes back.
    ASSERT_TRUE(view->NewTerrain(9, 9, 10));
    static_cast<CTerrainTextureControl*>(page)->ClearTextureNames();
    SetTrackbar(IDC_TEX_LAYER_SCALE, 3); // with no layer highlighted, written nowhere
    ASSERT_TRUE(QFile::remove(Path("grass.jpg")));
    Command(ID_LOAD_MAP, {Path("valley.mvd")});
    t = Terrain();
    EXPECT_EQ(t->info.vertsPerRow, 129);
    ASSERT_EQ(t->textures.size(), 2u);
    EXPECT_EQ(t->textures[0]->texture, nullptr);
    EXPECT_EQ(t->baseTexture, 0);
    EXPECT_EQ(t->baseMappingScale, 12.0f);
    ASSERT_EQ(t->alphaMaps.size(), 2u);
    EXPECT_TRUE(static_cast<MemoryTexture*>(t->alphaMaps[1]->texture)->levels[0].bits == painted);
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), "grass.jpg (없음),palette.png");
    EXPECT_EQ(Rows(IDC_TEX_CANDIDATES), "grass.jpg (없음),palette.png");
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), "palette.png,grass.jpg (없음)");
    EXPECT_EQ(Item<CTrackBar>(IDC_TEX_BASE_SCALE)->value(), 12);
    // The last layer is the one highlighted and painted, and the scale trackbar shows its
    // scale, so a repaint writes back what it holds.
    EXPECT_EQ(Item<CListView>(IDC_TEX_LAYERS)->FirstSelected(), 1);
    EXPECT_EQ(t->selectedLayer, 1);
    Repaint(Item<CTrackBar>(IDC_TEX_LAYER_SCALE));
    EXPECT_EQ(Item<CTrackBar>(IDC_TEX_LAYER_SCALE)->value(), 7);
    EXPECT_EQ(t->splatLayers[1].mappingScale, 7.0f);
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("grass.jpg")))
        << prompts.messages[0].toStdString();
    EXPECT_FALSE(prompts.messages[0].contains(QStringLiteral("palette.png")));

    // Heights saved on their own no longer match the painting: the heights load, the
    // painting stays as it was and the user is told.
    prompts.messages.clear();
    t->vertices[5].y = 3;
    std::string error;
    ASSERT_TRUE(t->SaveMapVertexData(QFile::encodeName(Path("valley.mvd")).constData(), &error));
    ASSERT_TRUE(view->NewTerrain(9, 9, 10));
    static_cast<CTerrainTextureControl*>(page)->ClearTextureNames();
    Command(ID_LOAD_MAP, {Path("valley.mvd")});
    EXPECT_EQ(Terrain()->vertices[5].y, 3.0f);
    EXPECT_TRUE(Terrain()->textures.empty());
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), "");
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("valley.vmsplat")));
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("짝이 맞지 않")) ||
                prompts.messages[0].contains(QStringLiteral("함께 저장된 것이 아닙니다")));

    // Saved with no painting, the file left from before goes.
    Command(ID_SAVE_MAP, {Path("valley.mvd")});
    EXPECT_FALSE(QFileInfo::exists(Path("valley.vmsplat")));
}

TEST_F(InterchangeTest, ImportReplacesTheHeightsOrTheTerrain) {
    KrTerrain* t = Terrain();
    std::vector<float> heights(129 * 129);
    for (size_t i = 0; i < heights.size(); ++i)
        heights[i] = float(i % 129) * 0.5f - float(i / 129);
    MakeHeightmap("same.png", 129, 129, heights, {-128, 64});

    // Cancelled at the range: nothing changes.
    Command(ID_IMPORT_HEIGHTMAP, {Path("same.png")});
    EXPECT_EQ(Terrain()->vertices[200].y, 0.0f);
    ASSERT_EQ(prompts.asked.size(), 1);
    // The range our export recorded is offered.
    ASSERT_EQ(prompts.shownFields.size(), 2);
    EXPECT_EQ(prompts.shownFields[0].label, QStringLiteral("최저 높이"));
    EXPECT_EQ(prompts.shownFields[0].value, -128.0);
    EXPECT_EQ(prompts.shownFields[1].label, QStringLiteral("최고 높이"));
    EXPECT_EQ(prompts.shownFields[1].value, 64.0);

    prompts.values = {{}};
    Command(ID_IMPORT_HEIGHTMAP, {Path("same.png")});
    EXPECT_EQ(Terrain(), t); // the same terrain, its heights replaced
    const std::vector<float> got = Heights(t);
    for (size_t i = 0; i < heights.size(); ++i)
        ASSERT_NEAR(got[i], heights[i], 192.0f / 65535.0f) << i;

    // Another size makes a new terrain of that size with the current spacing, which takes
    // the modes the map page shows.
    ASSERT_TRUE(view->NewTerrain(65, 65, 4));
    DlgItem<QAbstractButton>(frame->tabMenu->mapPage, IDC_MAP_WIRE)->click();
    DlgItem<QAbstractButton>(frame->tabMenu->mapPage, IDC_MAP_LOWER)->click();
    MakeHeightmap("other.r16", 33, 17, std::vector<float>(33 * 17, 1.0f), {0, 1});
    prompts.values = {{33, 17}, {-5, 20}}; // not square: the size first
    Command(ID_IMPORT_HEIGHTMAP, {Path("other.r16")});
    ASSERT_EQ(Terrain()->info.vertsPerRow, 33) << prompts.messages.join('\n').toStdString();
    EXPECT_EQ(Terrain()->info.vertsPerCol, 17);
    EXPECT_EQ(Terrain()->info.cellSpacingX, 4.0f);
    EXPECT_EQ(Terrain()->vertices[0].y, 20.0f);
    EXPECT_EQ(GetDlgItemText(frame->tabMenu->mapPage, IDC_MAP_WIDTH), "33");
    EXPECT_EQ(Terrain()->fillMode, D3DFILL_WIREFRAME);
    EXPECT_EQ(Terrain()->brushMode, 2);
    EXPECT_TRUE(prompts.messages.isEmpty());
}

TEST_F(InterchangeTest, ImportExplainsEightBitAndRawAndRefusesColour) {
    const Bytes grey = {0, 255, 128, 64};
    Bytes png;
    std::string error;
    ASSERT_TRUE(EncodeGreyPng8(2, 2, grey.data(), &png, &error));
    WriteFile(Path("eight.png"), png);
    prompts.values = {{0, 255}};
    Command(ID_IMPORT_HEIGHTMAP, {Path("eight.png")});
    ASSERT_EQ(prompts.asked.size(), 1);
    EXPECT_TRUE(prompts.asked[0].contains(QStringLiteral("256단계")));
    EXPECT_EQ(Terrain()->info.vertsPerRow, 2);
    EXPECT_EQ(Terrain()->vertices[1].y, 255.0f);

    // RAW whose size fits no square: the size is asked first.
    WriteFile(Path("strip.raw"), Bytes(2 * 5 * 3, 0));
    // The imported terrain has no file: replacing it asks first.
    prompts.asked.clear();
    prompts.values = {{5, 3}, {0, 1}};
    prompts.saveAnswers = {CPrompts::SaveAnswer::Discard};
    Command(ID_IMPORT_HEIGHTMAP, {Path("strip.raw")});
    ASSERT_EQ(prompts.asked.size(), 2);
    EXPECT_EQ(prompts.questions.size(), 1);
    EXPECT_EQ(Terrain()->info.vertsPerRow, 5);
    EXPECT_EQ(Terrain()->info.vertsPerCol, 3);

    // A size that does not fit the file, and a colour image, are refused and change nothing.
    KrTerrain* t = Terrain();
    prompts.values = {{4, 4}};
    Command(ID_IMPORT_HEIGHTMAP, {Path("strip.raw")});
    Command(ID_IMPORT_HEIGHTMAP, {Path("palette.png")});
    EXPECT_EQ(Terrain(), t);
    ASSERT_EQ(prompts.messages.size(), 2);
    EXPECT_TRUE(prompts.messages[1].contains(QStringLiteral("회색조")));
    EXPECT_TRUE(prompts.messages[1].contains(QStringLiteral("지형은 그대로입니다")));
}

TEST_F(InterchangeTest, ExportWritesTheHeightmapTheRangeAndTheAlphaMaps) {
    KrTerrain* t = Terrain();
    t->vertices[0].y = 40;
    t->vertices[129 * 129 - 1].y = -8;
    Command(ID_LOAD_TEXTURE, {Path("grass.jpg")});
    Item<CListView>(IDC_TEX_CANDIDATES)->rowDoubleClicked(0);
    auto* map = static_cast<MemoryTexture*>(t->alphaMaps[0]->texture);
    std::memset(map->levels[0].bits.data(), 0x80, 4); // texel (0, 0)

    prompts.values = {{-8, 40, 1}};
    Command(ID_EXPORT_HEIGHTMAP, {Path("out.png")});
    ASSERT_EQ(prompts.shownFields.size(), 3);
    EXPECT_EQ(prompts.shownFields[0].value, -8.0);
    EXPECT_EQ(prompts.shownFields[1].value, 40.0);
    ASSERT_EQ(prompts.informed.size(), 1) << prompts.messages.join('\n').toStdString();
    EXPECT_TRUE(prompts.informed[0].contains(QStringLiteral("-8 ~ 40")));
    EXPECT_TRUE(prompts.informed[0].contains(QStringLiteral("out_layer1.png")));

    HeightmapImage image;
    std::string error;
    Bytes bytes = ReadFile(Path("out.png"));
    ASSERT_TRUE(
        DecodeHeightmap(HeightmapFormat::Png, bytes.data(), bytes.size(), 0, 0, &image, &error))
        << error;
    EXPECT_TRUE(image.hasRange);
    EXPECT_EQ(image.range.high, 40.0f);
    EXPECT_EQ(image.codes[0], 65535);
    bytes = ReadFile(Path("out_layer1.png"));
    ASSERT_TRUE(
        DecodeHeightmap(HeightmapFormat::Png, bytes.data(), bytes.size(), 0, 0, &image, &error))
        << error;
    EXPECT_EQ(image.bits, 8);
    EXPECT_EQ(image.width, 1024);
    EXPECT_EQ(image.codes[0], 0x80);
    EXPECT_EQ(image.codes[1], 0);

    // RAW 32: the heights as they are; a range upside down writes nothing.
    prompts.values = {{0}};
    Command(ID_EXPORT_HEIGHTMAP, {Path("out.r32")});
    bytes = ReadFile(Path("out.r32"));
    ASSERT_EQ(bytes.size(), 129u * 129 * 4);
    EXPECT_EQ(std::memcmp(bytes.data(), Heights(t).data(), bytes.size()), 0);
    prompts.values = {{10, 5}};
    Command(ID_EXPORT_HEIGHTMAP, {Path("upside.r16")});
    EXPECT_FALSE(QFileInfo::exists(Path("upside.r16")));
    EXPECT_EQ(prompts.messages.size(), 1);
}
