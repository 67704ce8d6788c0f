// Veldmark: a height-field terrain editor.
#include "CVeldmarkApp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    CVeldmarkApp app;
    if (!app.InitInstance())
        return 0;
    return qtApp.exec();
}
