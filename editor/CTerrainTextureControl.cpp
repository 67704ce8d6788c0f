#include "CTerrainTextureControl.h"

#include "CMainFrame.h"
#include "CPrompts.h"
#include "CTerrainDocument.h"
#include "CTerrainMainView.h"
#include "CTerrainTabMenu.h"
#include "DialogTemplate.h"
#include "KrAutoPaint.h"
#include "KrTerrain.h"

#include <QAbstractButton>
#include <QFileInfo>

#include <algorithm>

using namespace res;

namespace {

struct TextureTrackbar {
    int id, minimum, maximum, initial, edit;
};
constexpr TextureTrackbar kTrackbars[] = {
    {IDC_TEX_SMOOTH, 0, 500, 150, IDC_TEX_SMOOTH_EDIT},
    {IDC_TEX_STRENGTH, 0, 250, 75, IDC_TEX_STRENGTH_EDIT},
    {IDC_TEX_LAYER_SCALE, 1, 500, 1, IDC_TEX_LAYER_SCALE_EDIT},
    {IDC_TEX_BASE_SCALE, 1, 500, 1, IDC_TEX_BASE_SCALE_EDIT},
};

// The auto painting boxes and what they start with: gentle ground at any height.
struct AutoPaintBox {
    int id, initial;
};
constexpr AutoPaintBox kAutoPaintBoxes[] = {
    {IDC_TEX_AUTO_SLOPE_MIN, 0},      {IDC_TEX_AUTO_SLOPE_MAX, 30},
    {IDC_TEX_AUTO_SLOPE_SOFT, 5},     {IDC_TEX_AUTO_HEIGHT_MIN, -10000},
    {IDC_TEX_AUTO_HEIGHT_MAX, 10000}, {IDC_TEX_AUTO_HEIGHT_SOFT, 0},
};

// Whether index names an element of a list of this size; -1 and the like never do.
bool Below(int index, size_t size) {
    return static_cast<size_t>(static_cast<unsigned>(index)) < size;
}

} // namespace

CTerrainTextureControl::CTerrainTextureControl(QWidget* parent) : QWidget(parent) {
    BuildDialog(kDialogTextureControl, this);

    for (const TextureTrackbar& t : kTrackbars)
        connect(DlgItem<CTrackBar>(this, t.id), &CTrackBar::customDraw, this,
                [this, id = t.id](int position) { OnTrackbarDraw(id, position); });
    connect(DlgItem<CListView>(this, IDC_TEX_BASE_LIST), &CListView::rowDoubleClicked, this,
            &CTerrainTextureControl::OnBaseDoubleClick);
    connect(DlgItem<CListView>(this, IDC_TEX_CANDIDATES), &CListView::rowDoubleClicked, this,
            &CTerrainTextureControl::RegisterCandidate);
    CListView* layers = DlgItem<CListView>(this, IDC_TEX_LAYERS);
    connect(layers, &CListView::rowDoubleClicked, this, [this](int) { OnLayerDoubleClick(); });
    // The highlighted layer is the one painted: one row at most, and the terrain's
    // selected layer follows it.
    layers->setSelectionMode(QAbstractItemView::SingleSelection);
    connect(layers, &QListWidget::itemSelectionChanged, this,
            &CTerrainTextureControl::OnLayerSelectionChanged);
    const auto button = [this](int id, auto handler) {
        connect(DlgItem<QAbstractButton>(this, id), &QAbstractButton::clicked, this, handler);
    };
    button(IDC_TEX_ADD, [this] { OnAddTexture(); });
    button(IDC_TEX_DELETE, [this] { OnDeleteTexture(); });
    button(IDC_TEX_REGISTER, [this] { OnRegister(); });
    button(IDC_TEX_UNREGISTER, [this] { OnUnregister(); });
    button(IDC_TEX_UP, [this] { OnMoveLayer(-1); });
    button(IDC_TEX_DOWN, [this] { OnMoveLayer(+1); });
    button(IDC_TEX_DRAW, [this] { OnPaintMode(1); });
    button(IDC_TEX_ERASE, [this] { OnPaintMode(0); });
    button(IDC_TEX_AUTO_PAINT, [this] { OnAutoPaint(); });

    OnInitDialog();
}

CTerrainTextureControl::~CTerrainTextureControl() = default;

void CTerrainTextureControl::OnInitDialog() {
    for (const TextureTrackbar& t : kTrackbars) {
        CTrackBar* trackbar = DlgItem<CTrackBar>(this, t.id);
        trackbar->setRange(t.minimum, t.maximum);
        trackbar->setValue(t.initial);
    }
    // The terrain's paint mode starts at draw already.
    DlgItem<QAbstractButton>(this, IDC_TEX_DRAW)->setChecked(true);
    for (const AutoPaintBox& box : kAutoPaintBoxes)
        SetDlgItemInt(this, box.id, box.initial);
}

void CTerrainTextureControl::AddTextureName(const QString& name) {
    CListView* base = DlgItem<CListView>(this, IDC_TEX_BASE_LIST);
    base->addItem(name);
    DlgItem<CListView>(this, IDC_TEX_CANDIDATES)->addItem(name);
    SetDlgItemInt(this, IDC_TEX_INDEX, base->count() - 1);
}

void CTerrainTextureControl::ClearTextureNames() {
    for (int id : {IDC_TEX_BASE_LIST, IDC_TEX_CANDIDATES, IDC_TEX_LAYERS})
        DlgItem<CListView>(this, id)->clear();
    SetDlgItemText(this, IDC_TEX_INDEX, QString());
}

void CTerrainTextureControl::SyncWithTerrain() {
    const KrTerrain* terrain = ViewTerrain();
    // Read first: the layer list's selection changes as it is refilled, and the terrain's
    // painted layer follows it.
    const int selected = terrain ? terrain->selectedLayer : -1;
    CListView* base = DlgItem<CListView>(this, IDC_TEX_BASE_LIST);
    CListView* candidates = DlgItem<CListView>(this, IDC_TEX_CANDIDATES);
    CListView* layers = DlgItem<CListView>(this, IDC_TEX_LAYERS);
    // A texture whose file did not load keeps its row, so rows still index the terrain's
    // list; the mark says why it is not drawn. A layer shows its texture's row.
    QStringList textures, layerNames;
    if (terrain) {
        for (const KrTextureEntry* entry : terrain->textures) {
            const QString source = entry ? QString::fromStdString(entry->source) : QString();
            QString name = QFileInfo(source).fileName();
            if (name.isEmpty())
                name = source;
            if (!entry || !entry->texture)
                name += QStringLiteral(" (없음)");
            textures << name;
        }
        for (const KrSplatLayer& layer : terrain->splatLayers)
            layerNames << (Below(layer.textureIndex, static_cast<size_t>(textures.size()))
                               ? textures[layer.textureIndex]
                               : QStringLiteral("(텍스쳐 없음)"));
    }
    const auto fill = [](CListView* list, const QStringList& rows) {
        QStringList now;
        for (int i = 0; i < list->count(); ++i)
            now << list->item(i)->text();
        if (now == rows)
            return; // keeps the selection
        list->clear();
        list->addItems(rows);
    };
    fill(base, textures);
    fill(candidates, textures);
    fill(layers, layerNames);
    // The highlighted row is the layer painted, or none is highlighted.
    SelectLayerRow(Below(selected, static_cast<size_t>(layers->count())) ? selected : -1);
    if (terrain && Below(terrain->baseTexture, terrain->textures.size()))
        SetDlgItemInt(this, IDC_TEX_INDEX, terrain->baseTexture);
    else
        SetDlgItemText(this, IDC_TEX_INDEX, QString());
    // The trackbars write their positions into the terrain when they repaint: the base scale
    // shows the terrain's first, and the brush sizes reach a terrain that is new.
    if (terrain)
        DlgItem<CTrackBar>(this, IDC_TEX_BASE_SCALE)
            ->setValue(static_cast<int>(terrain->baseMappingScale));
    update();
}

void CTerrainTextureControl::OnTrackbarDraw(int id, int position) {
    KrTerrain* terrain = ViewTerrain();
    if (!terrain)
        return;
    const auto scale = [](float* field, int position) {
        // The scales are saved with the painting: a change is one the file lacks.
        if (*field == static_cast<float>(position))
            return;
        *field = static_cast<float>(position);
        if (CTerrainDocument* document = Document())
            document->PaintingChanged();
    };
    int edit = 0;
    switch (id) {
    case IDC_TEX_BASE_SCALE:
        scale(&terrain->baseMappingScale, position);
        edit = IDC_TEX_BASE_SCALE_EDIT;
        break;
    case IDC_TEX_SMOOTH:
        terrain->splatInnerRadius = 0.5f * static_cast<float>(terrain->smallRadius);
        terrain->bigRadius = position;
        edit = IDC_TEX_SMOOTH_EDIT;
        break;
    case IDC_TEX_STRENGTH:
        terrain->smallRadius = position;
        edit = IDC_TEX_STRENGTH_EDIT;
        break;
    case IDC_TEX_LAYER_SCALE:
        if (terrain->selectedLayer >= 0 &&
            Below(terrain->selectedLayer, terrain->alphaMaps.size()) &&
            Below(terrain->selectedLayer, terrain->splatLayers.size()))
            scale(&terrain->splatLayers[static_cast<size_t>(terrain->selectedLayer)].mappingScale,
                  position);
        edit = IDC_TEX_LAYER_SCALE_EDIT;
        break;
    default:
        return;
    }
    SetDlgItemInt(this, edit, position);
}

void CTerrainTextureControl::OnBaseDoubleClick(int row) {
    SetDlgItemInt(this, IDC_TEX_INDEX, row);
    KrTerrain* terrain = ViewTerrain();
    if (!terrain)
        return;
    if (Below(row, terrain->textures.size()) && terrain->baseTexture != row) {
        terrain->baseTexture = row;
        if (CTerrainDocument* document = Document())
            document->PaintingChanged();
    }
    DlgItem<CTrackBar>(this, IDC_TEX_BASE_SCALE)
        ->setValue(static_cast<int>(terrain->baseMappingScale));
}

void CTerrainTextureControl::OnAddTexture() {
    CMainFrame* frame = GetMainFrame();
    if (frame && frame->mainView)
        frame->mainView->OnLoadTexture();
}

void CTerrainTextureControl::OnDeleteTexture() {
    CListView* base = DlgItem<CListView>(this, IDC_TEX_BASE_LIST);
    if (base->count() == 0)
        return;
    const int index = WToI(GetDlgItemText(this, IDC_TEX_INDEX));
    KrTerrain* terrain = ViewTerrain();
    CTerrainDocument* document = Document();
    if (terrain && terrain->RemoveTexture(index) && document)
        document->PaintingChanged();
    if (index >= 0 && index < base->count())
        delete base->takeItem(index);
    CListView* candidates = DlgItem<CListView>(this, IDC_TEX_CANDIDATES);
    if (index >= 0 && index < candidates->count())
        delete candidates->takeItem(index);
}

void CTerrainTextureControl::RegisterCandidate(int row) {
    KrTerrain* terrain = ViewTerrain();
    CListView* candidates = DlgItem<CListView>(this, IDC_TEX_CANDIDATES);
    // Rows of the layer list stand for layers one to one, so a row is added only with
    // its layer: nothing selected, or a texture that never loaded, registers nothing.
    CTerrainDocument* document = Document();
    if (!terrain || !document || row < 0 || row >= candidates->count() ||
        !Below(row, terrain->textures.size()))
        return;
    if (!document->AddSplatLayer(row))
        return;
    const QString name = candidates->item(row)->text();
    CListView* layers = DlgItem<CListView>(this, IDC_TEX_LAYERS);
    layers->addItem(name);
    const int k = layers->count() - 1;
    if (terrain->alphaMaps.size() > static_cast<size_t>(k))
        terrain->selectedLayer = k;
    SelectLayerRow(k);
}

void CTerrainTextureControl::OnRegister() {
    RegisterCandidate(DlgItem<CListView>(this, IDC_TEX_CANDIDATES)->FirstSelected());
}

void CTerrainTextureControl::OnUnregister() {
    CListView* layers = DlgItem<CListView>(this, IDC_TEX_LAYERS);
    const int row = layers->FirstSelected();
    if (row < 0)
        return;
    // The step keeps the layer painted until now, so the row goes only after it is made:
    // taking the row changes the selection.
    if (CTerrainDocument* document = Document())
        document->RemoveSplatLayer(row);
    delete layers->takeItem(row);
    // The row that took its place, or the new last one, becomes the layer painted.
    SelectLayerRow(std::min(row, layers->count() - 1));
}

void CTerrainTextureControl::SelectLayerRow(int row) {
    CListView* layers = DlgItem<CListView>(this, IDC_TEX_LAYERS);
    QListWidgetItem* item = row >= 0 ? layers->item(row) : nullptr;
    layers->setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    if (!item)
        layers->clearSelection();
    OnLayerSelectionChanged();
}

void CTerrainTextureControl::OnLayerSelectionChanged() {
    KrTerrain* terrain = ViewTerrain();
    if (!terrain)
        return;
    const int row = DlgItem<CListView>(this, IDC_TEX_LAYERS)->FirstSelected();
    const bool layer =
        Below(row, terrain->alphaMaps.size()) && Below(row, terrain->splatLayers.size());
    terrain->selectedLayer = layer ? row : -1;
    // The scale trackbar writes the selected layer on every repaint, so it must show that
    // layer's scale before it paints again.
    if (layer)
        DlgItem<CTrackBar>(this, IDC_TEX_LAYER_SCALE)
            ->setValue(
                static_cast<int>(terrain->splatLayers[static_cast<size_t>(row)].mappingScale));
}

void CTerrainTextureControl::OnLayerDoubleClick() {
    const int row = DlgItem<CListView>(this, IDC_TEX_LAYERS)->FirstSelected();
    KrTerrain* terrain = ViewTerrain();
    if (!terrain)
        return;
    if (Below(row, terrain->alphaMaps.size()))
        terrain->selectedLayer = row;
    if (Below(terrain->selectedLayer, terrain->splatLayers.size()))
        DlgItem<CTrackBar>(this, IDC_TEX_LAYER_SCALE)
            ->setValue(static_cast<int>(
                terrain->splatLayers[static_cast<size_t>(terrain->selectedLayer)].mappingScale));
}

void CTerrainTextureControl::OnMoveLayer(int step) {
    CListView* layers = DlgItem<CListView>(this, IDC_TEX_LAYERS);
    const int row = layers->FirstSelected();
    CTerrainDocument* document = Document();
    if (row < 0 || !document || !document->SwapSplatLayers(row, row + step))
        return;
    // The rows follow their layers, so each name stays beside the layer it stands for,
    // and the moved row stays selected, and painted, for the next step.
    QListWidgetItem* moved = layers->takeItem(row);
    layers->insertItem(row + step, moved);
    SelectLayerRow(row + step);
}

void CTerrainTextureControl::OnPaintMode(int mode) {
    if (KrTerrain* terrain = ViewTerrain())
        terrain->paintMode = mode;
}

KrAutoPaintRule CTerrainTextureControl::AutoPaintRule() const {
    const auto value = [this](int id) {
        return static_cast<float>(WToI(GetDlgItemText(this, id)));
    };
    KrAutoPaintRule rule;
    rule.slopeMin = value(IDC_TEX_AUTO_SLOPE_MIN);
    rule.slopeMax = value(IDC_TEX_AUTO_SLOPE_MAX);
    rule.slopeSoftness = value(IDC_TEX_AUTO_SLOPE_SOFT);
    rule.heightMin = value(IDC_TEX_AUTO_HEIGHT_MIN);
    rule.heightMax = value(IDC_TEX_AUTO_HEIGHT_MAX);
    rule.heightSoftness = value(IDC_TEX_AUTO_HEIGHT_SOFT);
    return rule;
}

void CTerrainTextureControl::OnAutoPaint() {
    KrTerrain* terrain = ViewTerrain();
    if (!terrain)
        return;
    const QString caption = QStringLiteral("자동 칠하기");
    if (!Below(terrain->selectedLayer, terrain->alphaMaps.size())) {
        Prompts().Message(this, caption,
                          QStringLiteral("칠할 레이어가 없습니다. \"텍스쳐 목록\"의 텍스쳐를 "
                                         "등록하거나 \"선택된 텍스쳐\"의 레이어를 더블 클릭해 "
                                         "고르세요."));
        return;
    }
    CTerrainDocument* document = Document();
    const bool done = document ? document->AutoPaintLayer(terrain->selectedLayer, AutoPaintRule())
                               : terrain->AutoPaintLayer(terrain->selectedLayer, AutoPaintRule());
    if (!done)
        Prompts().Message(this, caption,
                          QStringLiteral("알파 맵에 쓰지 못했습니다. 레이어는 그대로 남습니다."));
}
