// The texture page: the loaded textures, the base texture, the splatting layers, the
// paint settings and painting a layer by slope and height.
#pragma once

#include <QWidget>

struct KrAutoPaintRule;

class CTerrainTextureControl : public QWidget {
    Q_OBJECT
public:
    explicit CTerrainTextureControl(QWidget* parent = nullptr);
    ~CTerrainTextureControl() override;

    // Adds a loaded texture's display name to the page's lists.
    void AddTextureName(const QString& name);
    // Empties the three lists, for a terrain that holds no textures or layers.
    void ClearTextureNames();
    // Fills the three lists from the terrain's textures and layers (after a load, an undo or
    // a new terrain), highlights the layer painted and moves the base scale trackbar to the
    // terrain's scale.
    void SyncWithTerrain();

    void OnBaseDoubleClick(int row);
    void OnAddTexture();
    void OnDeleteTexture();
    // Registers row r of the candidate list as a new splatting layer.
    void RegisterCandidate(int row);
    void OnRegister();
    void OnUnregister();
    void OnLayerDoubleClick();
    void OnMoveLayer(int step);
    void OnPaintMode(int mode);
    // Fills the selected layer's coverage from the slope and height boxes.
    void OnAutoPaint();
    // The rule the auto painting boxes describe, read as integers.
    KrAutoPaintRule AutoPaintRule() const;

private:
    void OnInitDialog();
    // Highlights a row of the layer list (none for -1), which makes it the layer painted.
    void SelectLayerRow(int row);
    void OnLayerSelectionChanged();
    void OnTrackbarDraw(int id, int position);
};
