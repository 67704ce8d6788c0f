// A window without a screen for tests, benchmarks and tools: an EGL surfaceless OpenGL 3.3
// core context (Mesa's llvmpipe where there is no GPU) whose "window" is an offscreen
// framebuffer of a fixed size.
#pragma once

#include "win32.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class EglSurfacelessWindow : public PlatformWindow {
public:
    // Null when no EGL display or context can be made here; *error then says why.
    static std::unique_ptr<EglSurfacelessWindow> Create(int width, int height,
                                                        std::string* error = nullptr);
    ~EglSurfacelessWindow() override;

    RECT ClientRect() const override;
    GlSurface* Surface() override;

    // What the last Present left in the window, A8R8G8B8 words, top row first.
    bool ReadPixels(std::vector<uint32_t>* argb);
    // How many times the surface was swapped (one per Present).
    int Swaps() const;

    struct Impl;

private:
    explicit EglSurfacelessWindow(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
