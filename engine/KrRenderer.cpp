// Placeholder until the render device context lands.
#include "KrRenderer.h"

KrRenderer* KrRenderer::instance_ = nullptr;

KrRenderer* KrRenderer::GetInstance() {
    if (!instance_)
        instance_ = new KrRenderer();
    return instance_;
}
void KrRenderer::DestroyInstance() {
    delete instance_;
    instance_ = nullptr;
}
KrRenderer::~KrRenderer() = default;
HRESULT KrRenderer::Create(HWND) {
    return E_FAIL;
}
void KrRenderer::Initialize() {}
void KrRenderer::SetDefaultLight() {}
void KrRenderer::SetLightPosition(float, float, float) {}
void KrRenderer::ApplyMaterial() {}
void KrRenderer::UpdateView() {}
void KrRenderer::SetupProjection() {}
