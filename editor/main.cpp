// Veldmark: a height-field terrain editor.
#include "CVeldmarkApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    CVeldmarkApp app;
    if (!app.InitInstance())
        return 0;
    // Qt has taken out the options it knows (-platform and the like).
    app.ProcessCommandLine(QCoreApplication::arguments().mid(1));
    return qtApp.exec();
}
