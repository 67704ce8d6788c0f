// The few Win32 windowing pieces the engine uses. A window is an abstract PlatformWindow
// that the editor (or a test) implements; HWND is a pointer to one.
#pragma once

#include <cstdint>

using BOOL = int;
using LONG = int32_t;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

struct RECT {
    LONG left, top, right, bottom;
};

struct POINT {
    LONG x, y;
};

// An OpenGL drawing surface with a context of version 3.3 core or later. The device makes
// it current before any GL call, so several surfaces can coexist.
class GlSurface {
public:
    virtual ~GlSurface() = default;
    virtual bool MakeCurrent() = 0;
    virtual void SwapBuffers() = 0;
    // The framebuffer that presents to the window (0 for most windows, a user FBO for
    // surfaceless contexts); its size in pixels.
    virtual unsigned DefaultFramebuffer() = 0;
    virtual int PixelWidth() = 0;
    virtual int PixelHeight() = 0;
};

class PlatformWindow {
public:
    virtual ~PlatformWindow() = default;
    virtual RECT ClientRect() const = 0;
    // Null for a window that cannot be drawn with OpenGL.
    virtual GlSurface* Surface() { return nullptr; }
};

using HWND = PlatformWindow*;

// A null window or one of zero size gives the empty rectangle and FALSE for null.
BOOL GetClientRect(HWND window, RECT* rect);

// A window of a fixed client size, for tools and tests that have no real window.
class FixedSizeWindow : public PlatformWindow {
public:
    FixedSizeWindow(LONG width, LONG height) : width_(width), height_(height) {}
    RECT ClientRect() const override { return RECT{0, 0, width_, height_}; }
    void Resize(LONG width, LONG height) {
        width_ = width;
        height_ = height;
    }

private:
    LONG width_, height_;
};
