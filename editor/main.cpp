// Veldmark: a height-field terrain editor. A MapVertexData file named on the command line
// (as the desktop's "open with" passes it) is opened once the window is up.
#include "CVeldmarkApp.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    CVeldmarkApp app;
    if (!app.InitInstance())
        return 0;
    // Qt has taken out the options it knows (-platform and the like).
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (!arguments.isEmpty())
        QTimer::singleShot(0, &qtApp, [&app, arguments] { app.ProcessCommandLine(arguments); });
    return qtApp.exec();
}
