// The 3D view's drawing surface: a native window with its own OpenGL 3.3 core context,
// hosted in the view by a window container. Its input goes to the view.
#pragma once

#include "win32.h"

#include <QOpenGLContext>
#include <QWindow>

class CGlViewWindow : public QWindow, public GlSurface {
    Q_OBJECT
public:
    CGlViewWindow();
    ~CGlViewWindow() override;

    // Makes the context; false when OpenGL 3.3 core cannot be had here.
    bool CreateContext();

    bool MakeCurrent() override;
    void SwapBuffers() override;
    unsigned DefaultFramebuffer() override;
    int PixelWidth() override;
    int PixelHeight() override;

    QOpenGLContext* Context() { return &context_; }

private:
    QOpenGLContext context_;
};
