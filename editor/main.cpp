// Veldmark: a height-field terrain editor. A MapVertexData file named on the command line
// (as the desktop's "open with" passes it) is opened once the window is up.
#include "CLongOperation.h"
#include "CVeldmarkApp.h"

#include <QApplication>
#include <QTimer>

#include <cstdlib>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    // Test hook, for tools that look at the progress dialog: slows every step of long work.
    if (const char* slow = std::getenv("VELDMARK_TEST_SLOW_WORK_MS"))
        CLongOperation::SetStepDelay(std::atoi(slow));
    CVeldmarkApp app;
    if (!app.InitInstance())
        return 0;
    // Qt has taken out the options it knows (-platform and the like).
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (!arguments.isEmpty())
        QTimer::singleShot(0, &qtApp, [&app, arguments] { app.ProcessCommandLine(arguments); });
    return qtApp.exec();
}
