#include "CVeldmarkApp.h"

#include "CAboutDlg.h"
#include "CChildView.h"
#include "CLongOperation.h"
#include "CMainFrame.h"
#include "CTerrainDocument.h"
#include "CTerrainMainView.h"
#include "resource.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
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

namespace {

// Qt's own dialogs and buttons (file dialogs, message box buttons, context menus) speak
// the window's language, whatever the system's locale: Debian's Qt translations.
void LoadKoreanQtTranslations() {
    static bool loaded = false;
    if (loaded || !QCoreApplication::instance())
        return;
    loaded = true;
    const QLocale korean(QLocale::Korean, QLocale::SouthKorea);
    QLocale::setDefault(korean);
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(korean, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator; // the dialogs stay in English
}

} // namespace

bool CVeldmarkApp::InitInstance() {
    // Common controls, OLE and the registry key have nothing to set up on this platform;
    // the OLE message stays in the string table.
    LoadKoreanQtTranslations();
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
    // One frame of the default terrain first: frames during the load show the terrain
    // without updating it, and a terrain never updated has no triangles to show.
    OnIdle(0);
    mainWnd->document->OpenAtStartUp(arguments.first());
}

bool CVeldmarkApp::OnIdle(long count) {
    // While long work runs off this thread it may read the master array, which the terrain's
    // Update writes: frames then show the terrain as it is, one for each wake-up.
    const bool working = CLongOperation::Running();
    CMainFrame* frame = mainWnd.get();
    if (frame && frame->mainView) {
        CTerrainMainView* view = frame->mainView;
        if (view->terrain && !working)
            view->terrain->Update();
        view->RenderFrame();
    }
    if (frame)
        frame->OnUpdateIndicators();
    return count < 1 && !working;
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
