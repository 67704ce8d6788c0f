// The map page: brush mode, shape and radii, strength, level of detail, fill mode, terrain
// information, camera reset and new terrain.
#pragma once

#include <QWidget>

#include <memory>

class CDlgMakeNewTerrain;

class CTerrainMapControl : public QWidget {
    Q_OBJECT
public:
    explicit CTerrainMapControl(QWidget* parent = nullptr);
    ~CTerrainMapControl() override;

    // Refreshes the width, depth and spacing boxes from the current terrain.
    void ShowTerrainInfo();
    void ShowTerrainInfo(int width, int depth, int cellSpacing);
    // After a new terrain or a load: the terrain takes the brush and fill mode the page
    // shows and the trackbars' values, and the information boxes show its size.
    void TerrainReplaced();

    void OnMakeNewTerrain();
    void OnResetCamera();

    // Run again on each click of "지형 새로 만들기"; it has no parent window.
    std::unique_ptr<CDlgMakeNewTerrain> newTerrainDialog;

private:
    void OnInitDialog();
    void OnBrushMode(int mode);
    void OnBrushShape(int shape);
    void OnFillMode(int mode);
    void OnTrackbarDraw(int id, int position);
};
