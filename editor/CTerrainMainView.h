// The 3D view: owns the terrain and the pick record, drives the camera from the keyboard
// and mouse, and runs the save, load and texture commands.
#pragma once

#include "KrCamera.h"
#include "KrTerrain.h"

#include <QWidget>

class CTerrainMainView : public QWidget {
    Q_OBJECT
public:
    explicit CTerrainMainView(QWidget* parent = nullptr);
    ~CTerrainMainView() override;

    void OnInitialUpdate();
    void RenderFrame();
    void OnLoadTexture();
    // Replaces the terrain and the pick record with new ones and resets the camera.
    void NewTerrain(int width, int depth, int cellSpacing);

    bool mouseLook = false;
    KrPickRay* pickRay = nullptr;
    KrTerrain* terrain = nullptr;
};
