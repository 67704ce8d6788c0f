// Veldmark: a height-field terrain editor. A MapVertexData file named on the command line
// (as the desktop's "open with" passes it) is loaded once the window is up.
#include "CMainFrame.h"
#include "CTerrainMainView.h"
#include "CVeldmarkApp.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    CVeldmarkApp app;
    if (!app.InitInstance())
        return 0;
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() > 1) {
        const QString path = arguments.at(1);
        QTimer::singleShot(0, &qtApp, [path] {
            CMainFrame* frame = GetMainFrame();
            if (frame && frame->mainView)
                frame->mainView->LoadMapFile(path);
        });
    }
    return qtApp.exec();
}
