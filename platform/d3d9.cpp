#include "d3d9.h"
#include "memory_device.h"

namespace {
GlDeviceFactory glFactory = nullptr;

class Direct3D9 : public RefCounted<IDirect3D9> {
public:
    HRESULT CreateDevice(UINT adapter, D3DDEVTYPE, HWND window, DWORD,
                         D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) override {
        if (!device || !params)
            return D3DERR_INVALIDCALL;
        *device = nullptr;
        if (adapter != D3DADAPTER_DEFAULT)
            return D3DERR_INVALIDCALL;
        if (window && window->Surface()) {
            if (!glFactory)
                return D3DERR_NOTAVAILABLE;
            *device = glFactory(window, *params);
            return *device ? D3D_OK : D3DERR_NOTAVAILABLE;
        }
        *device = new MemoryDevice(params);
        return D3D_OK;
    }
};
} // namespace

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION)
        return nullptr;
    return new Direct3D9;
}

void SetGlDeviceFactory(GlDeviceFactory factory) {
    glFactory = factory;
}
