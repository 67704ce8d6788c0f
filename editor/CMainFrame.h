// The main window: menu, splitter with the 3D view and the tab menu, status bar.
#pragma once

#include <QMainWindow>

class QSplitter;
class CTerrainMainView;
class CTerrainTabMenu;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    void CreateSplitter();

    QSplitter* splitter = nullptr;
    CTerrainMainView* mainView = nullptr; // the splitter's left pane, not owned
    CTerrainTabMenu* tabMenu = nullptr;   // the splitter's right pane, not owned
};

// The application's main window, through which every page reaches the view.
CMainFrame* GetMainFrame();
