// The document with the painting beside the heights: a load that brings a painting is one
// step undone bit for bit, saves write both files, the modified mark counts the painting,
// and heightmap imports are steps.
#include "editor_fixture.h"

#include "CTerrainDocument.h"
#include "heightmap.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QTemporaryDir>

#include <fstream>

using namespace res;
using Answer = CPrompts::SaveAnswer;

namespace {

// What undo and redo must bring back of a terrain and its painting, as bytes, and what the
// vertex buffer holds.
struct State {
    const KrTerrain* object = nullptr;
    std::vector<KrTerrainVertex> vertices, buffer;
    std::vector<const KrTextureEntry*> textures, maps;
    std::vector<std::vector<uint8_t>> texels;
    std::vector<std::pair<float, int32_t>> layers;
    int32_t base = 0, selected = 0;
    float baseScale = 0;

    static State Of(const KrTerrain* t) {
        State s;
        s.object = t;
        s.vertices.assign(t->vertices, t->vertices + t->info.numVertices);
        const auto& data = static_cast<MemoryVertexBuffer*>(t->vertexBuffer)->data;
        const auto* first = reinterpret_cast<const KrTerrainVertex*>(data.data());
        s.buffer.assign(first, first + data.size() / sizeof(KrTerrainVertex));
        s.textures.assign(t->textures.begin(), t->textures.end());
        for (const KrTextureEntry* map : t->alphaMaps) {
            s.maps.push_back(map);
            s.texels.push_back(static_cast<MemoryTexture*>(map->texture)->levels[0].bits);
        }
        for (const KrSplatLayer& layer : t->splatLayers)
            s.layers.emplace_back(layer.mappingScale, layer.textureIndex);
        s.base = t->baseTexture;
        s.selected = t->selectedLayer;
        s.baseScale = t->baseMappingScale;
        return s;
    }
};

// Whether now is exactly the state kept, its vertex buffer included.
::testing::AssertionResult Same(const State& now, const State& kept) {
    const auto bytes = [](const std::vector<KrTerrainVertex>& v) {
        return std::vector<uint8_t>(reinterpret_cast<const uint8_t*>(v.data()),
                                    reinterpret_cast<const uint8_t*>(v.data() + v.size()));
    };
    if (now.object != kept.object)
        return ::testing::AssertionFailure() << "another terrain object";
    if (bytes(now.vertices) != bytes(kept.vertices))
        return ::testing::AssertionFailure() << "vertex array differs";
    if (bytes(now.buffer) != bytes(kept.vertices))
        return ::testing::AssertionFailure() << "vertex buffer differs";
    if (now.textures != kept.textures || now.base != kept.base ||
        std::memcmp(&now.baseScale, &kept.baseScale, sizeof(float)) != 0)
        return ::testing::AssertionFailure() << "textures or base differ";
    if (now.maps != kept.maps || now.texels != kept.texels || now.layers != kept.layers)
        return ::testing::AssertionFailure() << "layers or alpha maps differ";
    if (now.selected != kept.selected)
        return ::testing::AssertionFailure() << "another layer painted";
    return ::testing::AssertionSuccess();
}

void WriteFile(const QString& path, const std::vector<uint8_t>& b) {
    std::ofstream(QFile::encodeName(path).toStdString(), std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

} // namespace

class DocumentPaintingTest : public PagesTest {
protected:
    DocumentPaintingTest() : PagesTest(1) {}

    void SetUp() override {
        PagesTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        for (const char* name : {"grass.jpg", "palette.png"})
            ASSERT_TRUE(
                QFile::copy(QStringLiteral(VELDMARK_TEST_DATA "/images/") + name, Path(name)));
    }

    CTerrainDocument& Doc() { return *frame->document; }
    QString Path(const QString& name) const { return dir.filePath(name); }
    QString Title(const QString& name, bool modified) const {
        return (modified ? "*" : "") + name + " - Veldmark";
    }
    QString Rows(int id) {
        QStringList rows;
        for (int i = 0; i < Item<CListView>(id)->count(); ++i)
            rows << Item<CListView>(id)->item(i)->text();
        return rows.join(',');
    }
    void Command(int id, QStringList answer = {}) {
        prompts.answers = {answer};
        EXPECT_TRUE(frame->OnCmdMsg(id));
    }
    void Register(int candidate) {
        Item<CListView>(IDC_TEX_CANDIDATES)->rowDoubleClicked(candidate);
    }
    uint8_t& Texel(int layer, int x, int y) {
        auto* map = static_cast<MemoryTexture*>(Terrain()->alphaMaps[size_t(layer)]->texture);
        return map->levels[0].bits[4 * (1024 * size_t(y) + size_t(x)) + 3];
    }
    // A left-button drag over the middle of the view with the tool of the tab shown.
    void Drag() {
        Move(At(0.45, 0.8));
        Press(Qt::LeftButton, At(0.45, 0.8));
        for (int i = 1; i <= 4; ++i) {
            Move(At(0.45 + 0.03 * i, 0.8));
            QTest::qWait(5);
        }
        Release(Qt::LeftButton, At(0.57, 0.8));
    }
    QString StatusText() const { return frame->indicators[0]->text(); }

    QTemporaryDir dir;
};

// Undo of a load brings back the heights and the whole painting before it, redo the loaded
// ones, bit for bit; the page shows each side's lists with the layer painted highlighted, and
// its trackbars write back the scales they show.
TEST_F(DocumentPaintingTest, LoadWithPaintingIsOneStepUndoneBitForBit) {
    // The file: two textures, two layers, a painted texel, base and scales.
    Command(ID_LOAD_TEXTURE, {Path("grass.jpg"), Path("palette.png")});
    Register(1);
    Register(0);
    Item<CListView>(IDC_TEX_BASE_LIST)->rowDoubleClicked(1);
    SetTrackbar(IDC_TEX_BASE_SCALE, 12);
    SetTrackbar(IDC_TEX_LAYER_SCALE, 7);
    Texel(0, 9, 7) = 200;
    Terrain()->vertices[130].y = 5.0f;
    Command(ID_FILE_SAVE_AS, {Path("valley.mvd")});
    ASSERT_TRUE(QFileInfo::exists(Path("valley.vmsplat")));
    EXPECT_EQ(frame->windowTitle(), Title("valley.mvd", false));

    // Another terrain with a painting of its own, not saved.
    ASSERT_TRUE(view->NewTerrain(65, 65, 10));
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), "");
    Command(ID_LOAD_TEXTURE, {Path("palette.png")});
    Register(0);
    Register(0);
    Texel(1, 500, 3) = 77;
    SetTrackbar(IDC_TEX_BASE_SCALE, 3);
    Item<CListView>(IDC_TEX_LAYERS)->setCurrentRow(0);
    SetTrackbar(IDC_TEX_LAYER_SCALE, 4);
    Terrain()->vertices[66].y = -2.0f;
    Terrain()->MarkVerticesChanged(66, 66);
    QApplication::processEvents();
    ASSERT_TRUE(Doc().IsModified());
    const QString ownRows = Rows(IDC_TEX_LAYERS);
    KrTerrain* const object = Terrain();
    const State before = State::Of(object);

    prompts.saveAnswers = {Answer::Discard};
    Command(ID_LOAD_MAP, {Path("valley.mvd")});
    ASSERT_EQ(prompts.questions.size(), 1);
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();
    ASSERT_EQ(Terrain(), object) << "a load keeps the object";
    EXPECT_EQ(Terrain()->info.vertsPerRow, 129);
    EXPECT_EQ(Terrain()->vertices[130].y, 5.0f);
    ASSERT_EQ(Terrain()->textures.size(), 2u);
    EXPECT_EQ(Terrain()->baseTexture, 1);
    EXPECT_EQ(Texel(0, 9, 7), 200);
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), "grass.jpg,palette.png");
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), "palette.png,grass.jpg");
    EXPECT_EQ(Item<CListView>(IDC_TEX_LAYERS)->FirstSelected(), Terrain()->selectedLayer);
    EXPECT_EQ(frame->windowTitle(), Title("valley.mvd", false));
    const State loaded = State::Of(Terrain());

    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_TRUE(Same(State::Of(Terrain()), before));
    EXPECT_EQ(StatusText(), QStringLiteral("실행 취소: 불러오기"));
    EXPECT_EQ(Rows(IDC_TEX_BASE_LIST), "palette.png");
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), ownRows);
    EXPECT_EQ(Item<CListView>(IDC_TEX_LAYERS)->FirstSelected(), 0);
    EXPECT_EQ(Item<CTrackBar>(IDC_TEX_BASE_SCALE)->value(), 3);
    EXPECT_EQ(Item<CTrackBar>(IDC_TEX_LAYER_SCALE)->value(), 4);
    EXPECT_EQ(frame->windowTitle(), Title(QStringLiteral("제목 없음"), true));
    // The trackbars write what they show on their next repaint: the scales stay.
    Repaint(Item<CTrackBar>(IDC_TEX_BASE_SCALE));
    Repaint(Item<CTrackBar>(IDC_TEX_LAYER_SCALE));
    EXPECT_EQ(Terrain()->baseMappingScale, before.baseScale);
    EXPECT_EQ(Terrain()->splatLayers[0].mappingScale, before.layers[0].first);

    const State left = State::Of(Terrain()); // frames have run since: left as it is now
    frame->OnCmdMsg(ID_EDIT_REDO);
    EXPECT_TRUE(Same(State::Of(Terrain()), loaded));
    EXPECT_EQ(Rows(IDC_TEX_LAYERS), "palette.png,grass.jpg");
    EXPECT_EQ(Item<CListView>(IDC_TEX_LAYERS)->FirstSelected(), loaded.selected);
    EXPECT_EQ(Item<CTrackBar>(IDC_TEX_BASE_SCALE)->value(), 12);
    EXPECT_EQ(frame->windowTitle(), Title("valley.mvd", false));
    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_TRUE(Same(State::Of(Terrain()), left));
}

// A painting file that does not belong to the heights, or is damaged, is not applied: the
// heights load as one step, the painting stays as it was (in the step too) and the user is
// told why.
TEST_F(DocumentPaintingTest, RefusedPaintingLeavesThePaintingThroughUndo) {
    Command(ID_LOAD_TEXTURE, {Path("grass.jpg")});
    Register(0);
    Command(ID_FILE_SAVE_AS, {Path("valley.mvd")});
    KrTerrain other;
    other.device = Terrain()->device;
    ASSERT_TRUE(other.Create(33, 17, 5));
    ASSERT_TRUE(other.SaveMapVertexData(QFile::encodeName(Path("valley.mvd")).constData()));
    ASSERT_TRUE(QFile::copy(Path("valley.vmsplat"), Path("damaged.vmsplat")));
    {
        QFile damaged(Path("damaged.vmsplat"));
        ASSERT_TRUE(damaged.resize(damaged.size() / 2));
    }
    ASSERT_TRUE(other.SaveMapVertexData(QFile::encodeName(Path("damaged.mvd")).constData()));

    Texel(0, 1, 1) = 9; // the painting as it is now, which the files lack
    for (const char* name : {"valley.mvd", "damaged.mvd"}) {
        SCOPED_TRACE(name);
        prompts.messages.clear();
        const State before = State::Of(Terrain());
        prompts.saveAnswers = {Answer::Discard};
        Command(ID_LOAD_MAP, {Path(name)});
        EXPECT_EQ(Terrain()->info.vertsPerCol, 17);
        EXPECT_EQ(State::Of(Terrain()).textures, before.textures);
        EXPECT_EQ(Texel(0, 1, 1), 9);
        ASSERT_EQ(prompts.messages.size(), 1);
        EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("불러오기 전 그대로입니다")));
        EXPECT_EQ(Rows(IDC_TEX_LAYERS), "grass.jpg");
        frame->OnCmdMsg(ID_EDIT_UNDO);
        EXPECT_TRUE(Same(State::Of(Terrain()), before));
        frame->OnCmdMsg(ID_EDIT_REDO);
        EXPECT_EQ(Terrain()->info.vertsPerRow, 33);
        EXPECT_EQ(Texel(0, 1, 1), 9);
    }
}

// Saves write the heights and the painting; painting strokes, layer changes, textures, the
// base and the scales all set the mark; undoing back to the saved state clears it, and a
// save that could not write the painting keeps the document as it was.
TEST_F(DocumentPaintingTest, SavesWriteBothFilesAndThePaintingSetsTheMark) {
    EXPECT_FALSE(Doc().IsModified());
    Command(ID_LOAD_TEXTURE, {Path("grass.jpg"), Path("palette.png")});
    EXPECT_EQ(frame->windowTitle(), Title(QStringLiteral("제목 없음"), true)) << "textures";
    Command(ID_FILE_SAVE_AS, {Path("a.mvd")});
    EXPECT_TRUE(QFileInfo::exists(Path("a.vmsplat")));
    EXPECT_EQ(frame->windowTitle(), Title("a.mvd", false));

    Register(1);
    EXPECT_TRUE(Doc().IsModified()) << "a layer";
    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_FALSE(Doc().IsModified()) << "back at the saved state";
    frame->OnCmdMsg(ID_EDIT_REDO);
    Command(ID_SAVE_MAP);
    EXPECT_TRUE(prompts.answers.value(0).isEmpty()) << "saved to the open file, no dialog";
    EXPECT_FALSE(Doc().IsModified());
    KrTerrain reread;
    reread.device = Terrain()->device;
    ASSERT_TRUE(reread.LoadMapVertexData(QFile::encodeName(Path("a.mvd")).constData()));
    ASSERT_EQ(reread.LoadPainting(QFile::encodeName(Path("a.mvd")).constData()).status,
              KrTerrain::PaintingLoad::Restored);
    EXPECT_EQ(reread.splatLayers.size(), 1u);

    // A painting stroke is a step that sets the mark.
    const std::vector<uint8_t> clean = State::Of(Terrain()).texels[0];
    Drag();
    ASSERT_NE(State::Of(Terrain()).texels[0], clean);
    EXPECT_TRUE(Doc().IsModified());
    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_EQ(StatusText(), QStringLiteral("실행 취소: 텍스쳐 칠하기"));
    EXPECT_EQ(State::Of(Terrain()).texels[0], clean);
    EXPECT_FALSE(Doc().IsModified());

    // Changes that are no step keep the mark until the next save, through undo.
    const auto marks = [&](auto change) {
        change();
        EXPECT_TRUE(Doc().IsModified());
        Command(ID_SAVE_MAP);
        EXPECT_FALSE(Doc().IsModified());
    };
    marks([&] { SetTrackbar(IDC_TEX_BASE_SCALE, 20); });
    marks([&] { SetTrackbar(IDC_TEX_LAYER_SCALE, 30); });
    marks([&] { Item<CListView>(IDC_TEX_BASE_LIST)->rowDoubleClicked(0); });
    marks([&] { Click(IDC_TEX_DELETE); });
    SetTrackbar(IDC_TEX_BASE_SCALE, 20);
    EXPECT_FALSE(Doc().IsModified()) << "the same scale again";

    // The painting cannot be written: the heights are, the document stays on a.mvd.
    Register(0);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("b.vmsplat")));
    Command(ID_FILE_SAVE_AS, {Path("b.mvd")});
    ASSERT_EQ(prompts.messages.size(), 1);
    EXPECT_TRUE(prompts.messages[0].contains(QStringLiteral("b.vmsplat")));
    EXPECT_TRUE(QFileInfo::exists(Path("b.mvd")));
    EXPECT_EQ(Doc().FilePath(), Path("a.mvd"));
    EXPECT_EQ(frame->windowTitle(), Title("a.mvd", true));
}

// A heightmap of the terrain's size replaces the heights as one step, normals included; one
// of another size makes a new terrain after the question; export changes nothing.
TEST_F(DocumentPaintingTest, HeightmapImportsAreStepsAndExportIsNone) {
    Command(ID_FILE_SAVE_AS, {Path("a.mvd")});
    std::vector<float> heights(129 * 129);
    for (size_t i = 0; i < heights.size(); ++i)
        heights[i] = 30.0f * std::sin(0.2f * float(i % 129)) - 0.25f * float(i / 129);
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(EncodeHeightmap(HeightmapFormat::Raw32, 129, 129, heights.data(), {}, &bytes,
                                nullptr, &error));
    WriteFile(Path("same.r32"), bytes);
    ASSERT_TRUE(EncodeHeightmap(HeightmapFormat::Raw32, 33, 33, heights.data(), {}, &bytes, nullptr,
                                &error));
    WriteFile(Path("small.r32"), bytes);
    // What replacing the heights in place gives, normals included.
    KrTerrain inPlace;
    inPlace.device = Terrain()->device;
    std::vector<float> own;
    for (const KrTerrainVertex& v : State::Of(Terrain()).vertices)
        own.push_back(v.y);
    ASSERT_TRUE(inPlace.CopyGridWithHeights(*Terrain(), own.data()));
    ASSERT_TRUE(inPlace.ReplaceHeights(heights.data()));

    KrTerrain* const object = Terrain();
    const State before = State::Of(object);
    Command(ID_IMPORT_HEIGHTMAP, {Path("same.r32")});
    EXPECT_TRUE(prompts.messages.isEmpty()) << prompts.messages.join('\n').toStdString();
    ASSERT_EQ(Terrain(), object);
    State after = State::Of(object);
    EXPECT_EQ(0, std::memcmp(after.vertices.data(), inPlace.vertices,
                             after.vertices.size() * sizeof(KrTerrainVertex)));
    EXPECT_EQ(frame->windowTitle(), Title("a.mvd", true)) << "the open file stays";
    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_EQ(StatusText(), QStringLiteral("실행 취소: 높이맵 가져오기"));
    EXPECT_TRUE(Same(State::Of(Terrain()), before));
    EXPECT_EQ(frame->windowTitle(), Title("a.mvd", false));
    frame->OnCmdMsg(ID_EDIT_REDO);
    EXPECT_TRUE(Same(State::Of(Terrain()), after));

    // Another size: "취소" changes nothing; "저장 안 함" makes a new terrain with no file.
    const size_t steps = Doc().History().StepCount();
    Command(ID_IMPORT_HEIGHTMAP, {Path("small.r32")});
    EXPECT_EQ(prompts.questions.size(), 1);
    EXPECT_EQ(Terrain(), object);
    EXPECT_EQ(Doc().History().StepCount(), steps);
    EXPECT_TRUE(prompts.messages.isEmpty()) << "a cancel is no failure";
    prompts.saveAnswers = {Answer::Discard};
    Command(ID_IMPORT_HEIGHTMAP, {Path("small.r32")});
    ASSERT_NE(Terrain(), object);
    EXPECT_EQ(Terrain()->info.vertsPerRow, 33);
    EXPECT_EQ(Text(IDC_TEX_INDEX), "");
    EXPECT_EQ(frame->windowTitle(), Title(QStringLiteral("제목 없음"), true))
        << "imported heights are in no file yet";

    // Export is no step and leaves the file and the mark.
    prompts.values = {{}};
    Command(ID_EXPORT_HEIGHTMAP, {Path("out.png")});
    EXPECT_TRUE(QFileInfo::exists(Path("out.png")));
    EXPECT_EQ(Doc().History().StepCount(), steps + 1);
    EXPECT_EQ(frame->windowTitle(), Title(QStringLiteral("제목 없음"), true));

    frame->OnCmdMsg(ID_EDIT_UNDO);
    EXPECT_EQ(Terrain(), object);
    EXPECT_EQ(frame->windowTitle(), Title("a.mvd", true));
}
