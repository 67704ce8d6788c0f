#include "CMainFrame.h"

#include "CAboutDlg.h"
#include "CChildView.h"
#include "CLongOperation.h"
#include "CTerrainDocument.h"
#include "CTerrainMainView.h"
#include "CTerrainMapControl.h"
#include "CTerrainTabMenu.h"
#include "CTerrainTextureControl.h"
#include "CVeldmarkApp.h"
#include "res/shell_resources.h"
#include "resource.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>

#include <algorithm>

namespace {
constexpr int kViewWidth = 1024;
constexpr int kPaneHeight = 768;

// X11 key-event modifier bits of the lock keys.
constexpr quint32 kX11LockMask = 0x02;
constexpr quint32 kX11Mod2Mask = 0x10; // Num Lock on the usual keymaps
} // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    qApp->installEventFilter(this);
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    // The history goes while the terrains it keeps can still release their device objects.
    document.reset();
    // The pages go first, while the view and its terrain they reach still exist; then the
    // view, which releases the terrain and the render device before its GL window goes.
    delete tabMenu;
    tabMenu = nullptr;
    delete mainView;
    mainView = nullptr;
}

bool CMainFrame::LoadFrame(int resId) {
    setWindowTitle(LoadResString(resId));
    setWindowIcon(VeldmarkIcon());
    BuildMenu();
    BuildAccelerators();
    return OnCreate();
}

bool CMainFrame::OnCreate() {
    childView = new CChildView(this);
    childView->setGeometry(0, 0, 0, 0);
    childView->show();

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("AFX_IDW_STATUS_BAR"));
    bar->setProperty("controlId", AFX_IDW_STATUS_BAR);
    const int ids[4] = {ID_SEPARATOR, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL};
    for (int i = 0; i < 4; ++i) {
        auto* pane = new QLabel(bar);
        pane->setProperty("controlId", ids[i]);
        if (i == 0) {
            pane->setText(LoadResString(AFX_IDS_IDLEMESSAGE));
            bar->addWidget(pane, 1);
        } else {
            pane->setText(LoadResString(ids[i]));
            pane->setAlignment(Qt::AlignCenter);
            pane->setMinimumWidth(pane->sizeHint().width() + 12);
            pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            bar->addPermanentWidget(pane);
        }
        indicators[i] = pane;
    }
    OnUpdateIndicators();
    return true;
}

void CMainFrame::BuildMenu() {
    QMenuBar* bar = menuBar();
    bar->setProperty("controlId", IDR_MAINFRAME);
    for (const MenuPopupResource& popup : MainFrameMenu()) {
        QMenu* menu = bar->addMenu(QString::fromUtf8(popup.text));
        for (const MenuItemResource& item : popup.items) {
            if (!item.text) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromUtf8(item.text));
            action->setData(item.id);
            action->setEnabled(HasCommandHandler(item.id));
            const int id = item.id;
            connect(action, &QAction::triggered, this, [this, id] { OnCmdMsg(id); });
            commandActions_[id] = action;
        }
    }
    QAction* status = CommandAction(ID_VIEW_STATUS_BAR);
    status->setCheckable(true);
    status->setChecked(true);
}

void CMainFrame::BuildAccelerators() {
    for (const AcceleratorResource& accel : MainFrameAccelerators()) {
        auto* shortcut = new QShortcut(accel.keys, this);
        const int id = accel.id;
        connect(shortcut, &QShortcut::activated, this, [this, id] { OnCmdMsg(id); });
    }
}

QAction* CMainFrame::CommandAction(int id) const {
    auto it = commandActions_.find(id);
    return it == commandActions_.end() ? nullptr : it->second;
}

bool CMainFrame::HasCommandHandler(int id) const {
    switch (id) {
    case ID_SAVE_MAP:
    case ID_LOAD_MAP:
    case ID_LOAD_TEXTURE:
    case ID_IMPORT_HEIGHTMAP:
    case ID_EXPORT_HEIGHTMAP:
    case ID_APP_EXIT:
    case ID_VIEW_STATUS_BAR:
    case ID_APP_ABOUT:
    case ID_EDIT_UNDO:
    case ID_EDIT_REDO:
    case ID_FILE_SAVE_AS:
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
        return true;
    default:
        return false;
    }
}

bool CMainFrame::OnCmdMsg(int id) {
    if (childView && childView->OnCmdMsg(id))
        return true;
    if (mainView && mainView->OnCommand(id))
        return true;
    switch (id) {
    case ID_APP_EXIT:
        close();
        return true;
    case ID_EDIT_UNDO:
        if (document)
            document->Undo();
        return true;
    case ID_EDIT_REDO:
        if (document)
            document->Redo();
        return true;
    case ID_FILE_SAVE_AS:
        if (document)
            document->SaveAs();
        return true;
    case ID_VIEW_STATUS_BAR: {
        const bool show = !statusBar()->isVisible();
        statusBar()->setVisible(show);
        CommandAction(ID_VIEW_STATUS_BAR)->setChecked(show);
        return true;
    }
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
        SwitchPane(id == ID_NEXT_PANE);
        return true;
    default:
        break;
    }
    CVeldmarkApp* app = CVeldmarkApp::Instance();
    return app && app->OnCmdMsg(id);
}

void CMainFrame::SwitchPane(bool next) {
    if (!splitter || splitter->count() == 0)
        return;
    // With two panes, next and previous both lead to the other one.
    int current = -1;
    for (int i = 0; i < splitter->count(); ++i) {
        QWidget* pane = splitter->widget(i);
        if (pane->isAncestorOf(focusWidget()) || pane == focusWidget())
            current = i;
    }
    const int count = splitter->count();
    const int target = current < 0 ? 0 : (current + (next ? 1 : count - 1)) % count;
    QWidget* pane = splitter->widget(target);
    if (pane == mainView)
        mainView->TakeFocus();
    else
        pane->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::CreateSplitter() {
    splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("AFX_IDW_PANE_FIRST"));
    splitter->setProperty("controlId", AFX_IDW_PANE_FIRST);
    splitter->setChildrenCollapsible(false);
    setCentralWidget(splitter);

    auto* view = new CTerrainMainView(splitter);
    view->resize(kViewWidth, kPaneHeight);
    splitter->addWidget(view);
    // The view is fully working (device, terrain, camera) before the tab menu exists.
    view->OnInitialUpdate();
    mainView = view;
    document = std::make_unique<CTerrainDocument>(view);
    connect(document.get(), &CTerrainDocument::changed, this, &CMainFrame::OnDocumentChanged);
    connect(document.get(), &CTerrainDocument::terrainChanged, this, &CMainFrame::RefreshPages);
    connect(document.get(), &CTerrainDocument::message, this, &CMainFrame::SetMessageText);
    OnDocumentChanged();

    tabMenu = new CTerrainTabMenu(splitter);
    splitter->addWidget(tabMenu);
    // A wider window widens the view; the pane keeps its width.
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);

    // The view starts 1024 wide and the pane wide enough for the whole map page; a screen
    // too small for both narrows the view, not the pane.
    const int paneWidth = tabMenu->WidthToShowForm(kPaneHeight);
    const int handle = splitter->handleWidth();
    QSize want(kViewWidth + handle + paneWidth,
               kPaneHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height());
    if (QScreen* screen = QGuiApplication::primaryScreen())
        want = want.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
    resize(want);
    const int viewWidth = std::max(want.width() - handle - paneWidth, view->minimumWidth());
    view->resize(viewWidth, kPaneHeight);
    tabMenu->resize(paneWidth, kPaneHeight);
    splitter->setSizes({viewWidth, paneWidth});
}

void CMainFrame::OnDocumentChanged() {
    if (!document)
        return;
    setWindowTitle(document->Title());
    if (QAction* undo = CommandAction(ID_EDIT_UNDO))
        undo->setEnabled(document->CanUndo());
    if (QAction* redo = CommandAction(ID_EDIT_REDO))
        redo->setEnabled(document->CanRedo());
}

void CMainFrame::RefreshPages() {
    if (!tabMenu)
        return;
    // The terrain may be another object or grid now: it takes the map page's brush, fill
    // mode and trackbars, as the page shows what is in effect.
    if (tabMenu->mapPage)
        tabMenu->mapPage->TerrainReplaced();
    if (tabMenu->texturePage)
        tabMenu->texturePage->SyncWithTerrain();
}

void CMainFrame::SetMessageText(const QString& text) {
    if (indicators[0])
        indicators[0]->setText(text);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Work in progress is cancelled (or, for a save, finished) first; the window is then
    // asked to close again.
    if (CLongOperation::DeferClose(this)) {
        event->ignore();
        return;
    }
    if (document && !document->MaybeSave()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

void CMainFrame::focusInEvent(QFocusEvent*) {
    if (childView)
        childView->setFocus(Qt::OtherFocusReason);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
        lockState_ = static_cast<QKeyEvent*>(event)->nativeModifiers();
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::OnUpdateIndicators() {
    if (!indicators[1] || lockState_ == shownLockState_)
        return;
    shownLockState_ = lockState_;
    // An indicator shows its text only while its lock is on; Scroll Lock cannot be read
    // here and stays blank.
    indicators[1]->setText((lockState_ & kX11LockMask) ? LoadResString(ID_INDICATOR_CAPS)
                                                       : QString());
    indicators[2]->setText((lockState_ & kX11Mod2Mask) ? LoadResString(ID_INDICATOR_NUM)
                                                       : QString());
    indicators[3]->setText(QString());
}
