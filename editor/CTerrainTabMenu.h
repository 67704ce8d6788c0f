// The right pane: a scrolling form with the tab strip and the three control pages.
#pragma once

#include <QScrollArea>

class QTabBar;
class KrTerrain;
class CTerrainMapControl;
class CTerrainTextureControl;
class CTerrainLightControl;

// The terrain of the main frame's 3D view, which every page writes; null while there is
// none.
KrTerrain* ViewTerrain();

class CTerrainTabMenu : public QScrollArea {
    Q_OBJECT
public:
    explicit CTerrainTabMenu(QWidget* parent = nullptr);
    ~CTerrainTabMenu() override;

    // The page shown for a tab index (0 map, 1 texture, 2 light), or null.
    QWidget* Page(int index) const;
    // The pane width that shows the whole width of the form as it is now (the map page at
    // start-up), with room for the vertical scroll bar when the form is taller than height.
    int WidthToShowForm(int height) const;

    QWidget* form = nullptr;       // the form of dialog 312, scrolled by this pane
    QTabBar* tabControl = nullptr; // control 1033
    CTerrainMapControl* mapPage = nullptr;
    CTerrainTextureControl* texturePage = nullptr;
    CTerrainLightControl* lightPage = nullptr;

private:
    void OnInitialUpdate();
    void OnSelChanging();
    void OnSelChange(int index);
    // The form grows to hold the visible page, so no part of a page is cut off.
    void FitForm();

    QSize templateSize_;
    int shownTab_ = 0;
};
