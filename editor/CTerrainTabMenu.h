// The right pane: a scrolling form with the tab strip and the three control pages.
#pragma once

#include <QScrollArea>

class CTerrainMapControl;
class CTerrainTextureControl;
class CTerrainLightControl;

class CTerrainTabMenu : public QScrollArea {
    Q_OBJECT
public:
    explicit CTerrainTabMenu(QWidget* parent = nullptr);
    ~CTerrainTabMenu() override;

    CTerrainMapControl* mapPage = nullptr;
    CTerrainTextureControl* texturePage = nullptr;
    CTerrainLightControl* lightPage = nullptr;
};
