#include "CTerrainMapControl.h"

#include "CDlgMakeNewTerrain.h"
#include "CMainFrame.h"
#include "CTerrainDocument.h"
#include "CTerrainTabMenu.h"
#include "CTerrainTextureControl.h"
#include "DialogTemplate.h"
#include "KrBrushShape.h"
#include "KrRenderer.h"
#include "KrTerrain.h"

#include <QAbstractButton>
#include <QDialog>
#include <QLineEdit>

using namespace res;

namespace {

struct MapTrackbar {
    int id, minimum, maximum, initial, edit;
};
constexpr MapTrackbar kTrackbars[] = {
    {IDC_MAP_BIG_SLIDER, 0, 500, 25, IDC_MAP_BIG_EDIT},
    {IDC_MAP_SMALL_SLIDER, 0, 250, 20, IDC_MAP_SMALL_EDIT},
    {IDC_MAP_STRENGTH_SLIDER, 1, 50, 10, IDC_MAP_STRENGTH_EDIT},
    {IDC_MAP_LOD_SLIDER, 0, 50, 5, IDC_MAP_LOD_EDIT},
};

struct RadioValue {
    int id, value;
};
constexpr RadioValue kBrushButtons[] = {{IDC_MAP_FLAT, kBrushModeFlat},
                                        {IDC_MAP_RAISE, kBrushModeRaise},
                                        {IDC_MAP_LOWER, kBrushModeLower},
                                        {IDC_MAP_SMOOTH, kBrushModeSmooth},
                                        {IDC_MAP_SET_HEIGHT, kBrushModeSetHeight},
                                        {IDC_MAP_NOISE, kBrushModeNoise}};
constexpr RadioValue kShapeButtons[] = {{IDC_MAP_SQUARE, kBrushShapeSquare},
                                        {IDC_MAP_ROUND, kBrushShapeRound}};

} // namespace

CTerrainMapControl::CTerrainMapControl(QWidget* parent)
    : QWidget(parent), newTerrainDialog(std::make_unique<CDlgMakeNewTerrain>()) {
    BuildDialog(kDialogMapControl, this);

    for (auto [id, mode] : kBrushButtons)
        connect(DlgItem<QAbstractButton>(this, id), &QAbstractButton::clicked, this,
                [this, mode = mode] { OnBrushMode(mode); });
    for (auto [id, shape] : kShapeButtons)
        connect(DlgItem<QAbstractButton>(this, id), &QAbstractButton::clicked, this,
                [this, shape = shape] { OnBrushShape(shape); });
    const std::pair<int, int> fillButtons[] = {{IDC_MAP_SOLID, D3DFILL_SOLID},
                                               {IDC_MAP_WIRE, D3DFILL_WIREFRAME},
                                               {IDC_MAP_POINT, D3DFILL_POINT}};
    for (auto [id, mode] : fillButtons)
        connect(DlgItem<QAbstractButton>(this, id), &QAbstractButton::clicked, this,
                [this, mode = mode] { OnFillMode(mode); });
    for (const MapTrackbar& t : kTrackbars) {
        connect(DlgItem<CTrackBar>(this, t.id), &CTrackBar::customDraw, this,
                [this, id = t.id](int position) { OnTrackbarDraw(id, position); });
        BindValueBox(DlgItem<QLineEdit>(this, t.edit), DlgItem<CTrackBar>(this, t.id));
    }
    connect(DlgItem<QAbstractButton>(this, IDC_MAP_NEW_TERRAIN), &QAbstractButton::clicked, this,
            &CTerrainMapControl::OnMakeNewTerrain);
    connect(DlgItem<QAbstractButton>(this, IDC_MAP_RESET_CAMERA), &QAbstractButton::clicked, this,
            &CTerrainMapControl::OnResetCamera);

    OnInitDialog();
}

CTerrainMapControl::~CTerrainMapControl() = default;

void CTerrainMapControl::OnInitDialog() {
    // No brush mode shows as chosen, as the terrain has none until one is clicked; the
    // shape starts square and the fill mode solid in both.
    DlgItem<QAbstractButton>(this, IDC_MAP_SQUARE)->setChecked(true);
    DlgItem<QAbstractButton>(this, IDC_MAP_SOLID)->setChecked(true);
    for (const MapTrackbar& t : kTrackbars) {
        CTrackBar* trackbar = DlgItem<CTrackBar>(this, t.id);
        trackbar->setRange(t.minimum, t.maximum);
        trackbar->setValue(t.initial);
    }
    if (ViewTerrain())
        ShowTerrainInfo();
    else
        ShowTerrainInfo(129, 129, 10);
}

void CTerrainMapControl::ShowTerrainInfo() {
    const KrTerrain* terrain = ViewTerrain();
    if (!terrain)
        return;
    ShowTerrainInfo(terrain->info.vertsPerRow, terrain->info.vertsPerCol,
                    static_cast<int>(terrain->info.cellSpacingX));
}

void CTerrainMapControl::ShowTerrainInfo(int width, int depth, int cellSpacing) {
    SetDlgItemInt(this, IDC_MAP_WIDTH, width);
    SetDlgItemInt(this, IDC_MAP_DEPTH, depth);
    SetDlgItemInt(this, IDC_MAP_SPACING, cellSpacing);
}

void CTerrainMapControl::TerrainReplaced() {
    ShowTerrainInfo();
    KrTerrain* terrain = ViewTerrain();
    if (!terrain)
        return;
    for (auto [id, mode] : kBrushButtons) {
        if (DlgItem<QAbstractButton>(this, id)->isChecked())
            terrain->brushMode = mode;
    }
    for (auto [id, shape] : kShapeButtons) {
        if (DlgItem<QAbstractButton>(this, id)->isChecked())
            terrain->brushShape = shape;
    }
    for (auto [id, mode] : {std::pair{IDC_MAP_SOLID, int(D3DFILL_SOLID)},
                            std::pair{IDC_MAP_WIRE, int(D3DFILL_WIREFRAME)},
                            std::pair{IDC_MAP_POINT, int(D3DFILL_POINT)}}) {
        if (DlgItem<QAbstractButton>(this, id)->isChecked())
            terrain->fillMode = mode;
    }
    // Repainted trackbars copy their positions into the terrain straight away.
    update();
}

void CTerrainMapControl::OnBrushMode(int mode) {
    if (KrTerrain* terrain = ViewTerrain()) {
        terrain->brushMode = mode;
        // Ends a stroke whose button release went outside the 3D view.
        terrain->editing = false;
    }
}

void CTerrainMapControl::OnBrushShape(int shape) {
    if (KrTerrain* terrain = ViewTerrain()) {
        terrain->brushShape = shape;
        terrain->editing = false;
    }
}

void CTerrainMapControl::OnFillMode(int mode) {
    if (KrTerrain* terrain = ViewTerrain()) {
        terrain->fillMode = mode;
        terrain->editing = false;
    }
}

void CTerrainMapControl::OnTrackbarDraw(int id, int position) {
    KrTerrain* terrain = ViewTerrain();
    if (!terrain)
        return;
    int edit = 0;
    switch (id) {
    case IDC_MAP_BIG_SLIDER:
        terrain->bigRadius = position;
        edit = IDC_MAP_BIG_EDIT;
        break;
    case IDC_MAP_SMALL_SLIDER:
        terrain->smallRadius = position;
        edit = IDC_MAP_SMALL_EDIT;
        break;
    case IDC_MAP_STRENGTH_SLIDER:
        terrain->strength = static_cast<float>(position) * 0.01f;
        edit = IDC_MAP_STRENGTH_EDIT;
        break;
    case IDC_MAP_LOD_SLIDER:
        terrain->lodThreshold = static_cast<float>(position);
        edit = IDC_MAP_LOD_EDIT;
        break;
    default:
        return;
    }
    SetDlgItemInt(this, edit, position);
}

void CTerrainMapControl::OnMakeNewTerrain() {
    // Unsaved changes are asked about before the dialog, as before a load.
    if (CTerrainDocument* document = Document(); document && !document->MaybeSave())
        return;
    if (newTerrainDialog->DoModal() != QDialog::Accepted)
        return;
    TerrainReplaced();
    // The new terrain has no textures, so the texture page's rows would name nothing.
    CMainFrame* frame = GetMainFrame();
    if (frame && frame->tabMenu && frame->tabMenu->texturePage)
        frame->tabMenu->texturePage->ClearTextureNames();
}

void CTerrainMapControl::OnResetCamera() {
    KrRenderer* renderer = KrRenderer::GetInstance();
    renderer->camera.Reset();
    renderer->UpdateView();
}
