// The texture page: the loaded textures, the base texture, the splatting layers and the
// paint settings.
#pragma once

#include <QWidget>

class CTerrainTextureControl : public QWidget {
    Q_OBJECT
public:
    explicit CTerrainTextureControl(QWidget* parent = nullptr);
    ~CTerrainTextureControl() override;

    // Adds a loaded texture's display name to the page's lists.
    void AddTextureName(const QString& name);
    // Empties the three lists, for a terrain that holds no textures or layers.
    void ClearTextureNames();
    // Fills the three lists from the terrain's textures and layers, as after an undo.
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

private:
    void OnInitDialog();
    // Highlights a row of the layer list (none for -1), which makes it the layer painted.
    void SelectLayerRow(int row);
    void OnLayerSelectionChanged();
    void OnTrackbarDraw(int id, int position);
};
