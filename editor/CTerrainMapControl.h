// The map page: brush mode and radii, strength, level of detail, fill mode, terrain
// information, camera reset and new terrain.
#pragma once

#include <QWidget>

class CTerrainMapControl : public QWidget {
    Q_OBJECT
public:
    explicit CTerrainMapControl(QWidget* parent = nullptr);
    ~CTerrainMapControl() override;

    // Refreshes the width, depth and spacing boxes from the current terrain.
    void ShowTerrainInfo();
};
