#include "CVeldmarkApp.h"

#include "CAboutDlg.h"
#include "CChildView.h"
#include "CMainFrame.h"
#include "CTerrainDocument.h"
#include "CTerrainMainView.h"
#include "resource.h"

#include <QApplication>
#include <new>

CVeldmarkApp* CVeldmarkApp::instance_ = nullptr;

CVeldmarkApp::CVeldmarkApp() : idle([this](long count) { return OnIdle(count); }) {
    instance_ = this;
}

CVeldmarkApp::~CVeldmarkApp() {
    idle.Stop();
    // The frame goes first: its view releases the terrain and the render device.
    mainWnd.reset();
    if (instance_ == this)
        instance_ = nullptr;
}

CMainFrame* GetMainFrame() {
    CVeldmarkApp* app = CVeldmarkApp::Instance();
    return app ? app->mainWnd.get() : nullptr;
}

bool CVeldmarkApp::InitInstance() {
    // Common controls, OLE and the registry key have nothing to set up on this platform;
    // the OLE message stays in the string table.
    mainWnd.reset(new (std::nothrow) CMainFrame());
    if (!mainWnd)
        return false;
    mainWnd->LoadFrame(IDR_MAINFRAME);
    mainWnd->CreateSplitter();
    mainWnd->show();
    mainWnd->update();
    // The frame hands its focus to the leftover child; the view takes it when clicked.
    if (mainWnd->childView)
        mainWnd->childView->setFocus(Qt::OtherFocusReason);
    idle.Start();
    return true;
}

void CVeldmarkApp::ProcessCommandLine(const QStringList& arguments) {
    if (arguments.isEmpty() || !mainWnd || !mainWnd->document)
        return;
    mainWnd->document->OpenAtStartUp(arguments.first());
}

bool CVeldmarkApp::OnIdle(long count) {
    CMainFrame* frame = mainWnd.get();
    if (frame && frame->mainView) {
        CTerrainMainView* view = frame->mainView;
        if (view->terrain)
            view->terrain->Update();
        view->RenderFrame();
    }
    if (frame)
        frame->OnUpdateIndicators();
    return count < 1;
}

void CVeldmarkApp::OnAppAbout() {
    CAboutDlg about(mainWnd.get());
    about.exec();
}

bool CVeldmarkApp::OnCmdMsg(int id) {
    if (id == ID_APP_ABOUT) {
        OnAppAbout();
        return true;
    }
    return false;
}
