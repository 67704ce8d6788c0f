// The application: start-up order, the idle-driven frame loop and the About command.
#pragma once

#include "CIdleDriver.h"

#include <QStringList>

#include <memory>

class CMainFrame;

class CVeldmarkApp {
public:
    CVeldmarkApp();
    ~CVeldmarkApp();
    CVeldmarkApp(const CVeldmarkApp&) = delete;
    CVeldmarkApp& operator=(const CVeldmarkApp&) = delete;

    // Builds and shows the main window; false ends the program. A QApplication must exist.
    bool InitInstance();
    // The arguments after the program's name: a MapVertexData file to start with. One that
    // cannot be loaded gets the usual message, and the default terrain stays.
    void ProcessCommandLine(const QStringList& arguments);
    // One idle call: updates the terrain and draws a frame; returns whether the loop
    // wants another call before it sleeps (only for count 0, as the framework does). While
    // long work runs (CLongOperation), it draws without updating and asks for no more.
    bool OnIdle(long count);
    void OnAppAbout();
    // Commands that reach the application after the frame and the view.
    bool OnCmdMsg(int id);

    static CVeldmarkApp* Instance() { return instance_; }

    std::unique_ptr<CMainFrame> mainWnd;
    CIdleDriver idle;

private:
    static CVeldmarkApp* instance_;
};
