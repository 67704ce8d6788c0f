#include "gl_egl_surface.h"

#include <epoxy/gl.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>

namespace {

bool HasExtension(const char* list, const char* name) {
    if (!list)
        return false;
    const size_t n = std::strlen(name);
    for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += n)
        if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == '\0'))
            return true;
    return false;
}

// One display for the process: EGL initialisation is not reference counted, so terminating
// it for one window would pull the context from under every other.
EGLDisplay SurfacelessDisplay(std::string* error) {
    static EGLDisplay display = EGL_NO_DISPLAY;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
        if (HasExtension(client, "EGL_MESA_platform_surfaceless")) {
            auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
                eglGetProcAddress("eglGetPlatformDisplayEXT"));
            if (getPlatformDisplay)
                display =
                    getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        }
        if (display == EGL_NO_DISPLAY)
            display = eglGetDisplay(EGL_DEFAULT_DISPLAY); // honours EGL_PLATFORM
        EGLint major = 0, minor = 0;
        if (display == EGL_NO_DISPLAY) {
            failure = "no EGL display";
        } else if (!eglInitialize(display, &major, &minor)) {
            failure = "the EGL display cannot be initialised";
            display = EGL_NO_DISPLAY;
        } else if (!HasExtension(eglQueryString(display, EGL_EXTENSIONS),
                                 "EGL_KHR_surfaceless_context")) {
            failure = "the EGL display has no surfaceless contexts";
            display = EGL_NO_DISPLAY;
        }
    }
    if (display == EGL_NO_DISPLAY && error)
        *error = failure;
    return display;
}

} // namespace

struct EglSurfacelessWindow::Impl : GlSurface {
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
    GLuint framebuffer = 0, colour = 0;
    int width = 0, height = 0;
    int swaps = 0;

    ~Impl() override {
        if (context == EGL_NO_CONTEXT)
            return;
        if (MakeCurrent()) {
            glDeleteRenderbuffers(1, &colour);
            glDeleteFramebuffers(1, &framebuffer);
        }
        eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(display, context);
    }

    bool MakeCurrent() override {
        if (eglGetCurrentContext() == context)
            return true;
        return eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) == EGL_TRUE;
    }
    void SwapBuffers() override {
        if (MakeCurrent())
            glFlush();
        ++swaps;
    }
    unsigned DefaultFramebuffer() override { return framebuffer; }
    int PixelWidth() override { return width; }
    int PixelHeight() override { return height; }
};

std::unique_ptr<EglSurfacelessWindow> EglSurfacelessWindow::Create(int width, int height,
                                                                   std::string* error) {
    std::string scratch;
    std::string& why = error ? *error : scratch;
    if (width <= 0 || height <= 0) {
        why = "the window size must be positive";
        return nullptr;
    }
    EGLDisplay display = SurfacelessDisplay(&why);
    if (display == EGL_NO_DISPLAY)
        return nullptr;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        why = "EGL offers no desktop OpenGL";
        return nullptr;
    }
    EGLConfig config = EGL_NO_CONFIG_KHR;
    if (!HasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_no_config_context")) {
        const EGLint attributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
        EGLint found = 0;
        if (!eglChooseConfig(display, attributes, &config, 1, &found) || found < 1) {
            why = "no EGL configuration for OpenGL";
            return nullptr;
        }
    }
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                        3,
                                        EGL_CONTEXT_MINOR_VERSION,
                                        3,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                        EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                        EGL_NONE};
    EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT) {
        why = "no OpenGL 3.3 core context can be made";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->display = display;
    impl->context = context;
    impl->width = width;
    impl->height = height;
    if (!impl->MakeCurrent()) {
        why = "the EGL context cannot be made current";
        return nullptr;
    }
    glGenFramebuffers(1, &impl->framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, impl->framebuffer);
    glGenRenderbuffers(1, &impl->colour);
    glBindRenderbuffer(GL_RENDERBUFFER, impl->colour);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, impl->colour);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glBindRenderbuffer(GL_RENDERBUFFER, 0);
    if (!complete) {
        why = "the window framebuffer cannot be made";
        return nullptr;
    }
    return std::unique_ptr<EglSurfacelessWindow>(new EglSurfacelessWindow(std::move(impl)));
}

EglSurfacelessWindow::EglSurfacelessWindow(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

EglSurfacelessWindow::~EglSurfacelessWindow() = default;

RECT EglSurfacelessWindow::ClientRect() const {
    return RECT{0, 0, impl_->width, impl_->height};
}

GlSurface* EglSurfacelessWindow::Surface() {
    return impl_.get();
}

int EglSurfacelessWindow::Swaps() const {
    return impl_->swaps;
}

bool EglSurfacelessWindow::ReadPixels(std::vector<uint32_t>* argb) {
    if (!argb || !impl_->MakeCurrent())
        return false;
    const size_t w = static_cast<size_t>(impl_->width), h = static_cast<size_t>(impl_->height);
    std::vector<uint32_t> rows(w * h);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, impl_->framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, 0, impl_->width, impl_->height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV,
                 rows.data());
    argb->resize(w * h);
    for (size_t y = 0; y < h; ++y)
        std::memcpy(argb->data() + y * w, rows.data() + (h - 1 - y) * w, w * 4);
    return glGetError() == GL_NO_ERROR;
}
