#include "CGlViewWindow.h"

#include <QSurfaceFormat>

namespace {
QSurfaceFormat ViewFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setVersion(3, 3);
    format.setProfile(QSurfaceFormat::CoreProfile);
    format.setDepthBufferSize(24);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    // Frames come only from the idle loop; waiting for vertical sync would stall it.
    format.setSwapInterval(0);
    return format;
}
} // namespace

CGlViewWindow::CGlViewWindow() {
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(ViewFormat());
}

CGlViewWindow::~CGlViewWindow() {
    context_.doneCurrent();
}

bool CGlViewWindow::CreateContext() {
    context_.setFormat(ViewFormat());
    if (!context_.create())
        return false;
    return context_.format().version() >= qMakePair(3, 3);
}

bool CGlViewWindow::MakeCurrent() {
    if (!handle())
        create();
    return context_.makeCurrent(this);
}

void CGlViewWindow::SwapBuffers() {
    // A hidden or minimised window has nothing to show; swapping it is undefined.
    if (isExposed())
        context_.swapBuffers(this);
}

unsigned CGlViewWindow::DefaultFramebuffer() {
    return context_.defaultFramebufferObject();
}

int CGlViewWindow::PixelWidth() {
    return qRound(width() * devicePixelRatio());
}

int CGlViewWindow::PixelHeight() {
    return qRound(height() * devicePixelRatio());
}
