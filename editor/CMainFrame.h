// The main window: menu, splitter with the 3D view and the tab menu, status bar.
#pragma once

#include <QMainWindow>

#include <map>
#include <memory>

class QAction;
class QLabel;
class QSplitter;
class CChildView;
class CTerrainDocument;
class CTerrainMainView;
class CTerrainTabMenu;

class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Title, menu, accelerators and icon of resource resId, then the frame's own children
    // (leftover child, status bar). False when a child cannot be made.
    bool LoadFrame(int resId);
    void CreateSplitter();

    // Routes a command: leftover child, active view, frame, application. False when no
    // one handles it.
    bool OnCmdMsg(int id);
    // Whether anyone handles the command; menu items of unhandled commands are disabled.
    bool HasCommandHandler(int id) const;
    // Refreshes the lock-key indicators of the status bar (run from the idle loop).
    void OnUpdateIndicators();

    // The menu item of a command id (null for none).
    QAction* CommandAction(int id) const;
    // The title and the menu items that follow the document.
    void OnDocumentChanged();
    // Shows text in the status bar's message pane.
    void SetMessageText(const QString& text);

    QSplitter* splitter = nullptr;
    CTerrainMainView* mainView = nullptr; // the splitter's left pane, not owned
    CTerrainTabMenu* tabMenu = nullptr;   // the splitter's right pane, not owned
    CChildView* childView = nullptr;
    QLabel* indicators[4] = {};
    // The open file, its changes and their history; made with the view.
    std::unique_ptr<CTerrainDocument> document;

protected:
    void focusInEvent(QFocusEvent* event) override;
    // Asks to save changes first, however the window is closed; during long work, closes
    // once the work is cancelled or done.
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool OnCreate();
    void BuildMenu();
    void BuildAccelerators();
    void SwitchPane(bool next);
    void RefreshPages();

    std::map<int, QAction*> commandActions_;
    quint32 lockState_ = 0; // X11 modifier state of the last key event
    quint32 shownLockState_ = ~0u;
};

// The application's main window, through which every page reaches the view.
CMainFrame* GetMainFrame();
