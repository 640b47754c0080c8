// Window, device and the default state every scene starts from.
#include "engine/demo_engine.h"
#include "gfx/d3dx/d3dx9.h"

bool DemoEngine::initDisplay(UINT width, UINT height, bool windowedMode, bool vsync, const char* title) {
    windowed = windowedMode;
    screenWidth = width;
    screenHeight = height;

    RECT frame{0, 0, LONG(width), LONG(height)};
    AdjustWindowRectEx(&frame, WS_CAPTION, FALSE, WS_EX_TOPMOST);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "VEXO", title ? title : "", WS_CAPTION, 0, 0,
                                  frame.right - frame.left, frame.bottom - frame.top, GetDesktopWindow(), nullptr,
                                  nullptr, nullptr);
    if (!window) return false;

    direct3d = Direct3DCreate9(31);
    if (!direct3d) return false;

    D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = width;
    params.BackBufferHeight = height;
    params.BackBufferFormat = D3DFMT_A8R8G8B8;
    params.BackBufferCount = 1;
    params.MultiSampleType = D3DMULTISAMPLE_NONE;
    params.MultiSampleQuality = 0;
    params.SwapEffect = D3DSWAPEFFECT_DISCARD;
    params.hDeviceWindow = window;
    params.Windowed = windowed;
    params.EnableAutoDepthStencil = TRUE;
    params.AutoDepthStencilFormat = D3DFMT_D24S8;
    params.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL;
    params.FullScreen_RefreshRateInHz = 0;
    params.PresentationInterval = vsync ? D3DPRESENT_INTERVAL_ONE : D3DPRESENT_INTERVAL_IMMEDIATE;

    if (FAILED(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                      D3DCREATE_HARDWARE_VERTEXPROCESSING, &params, &device))) {
        device = nullptr;
        if (FAILED(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                          D3DCREATE_SOFTWARE_VERTEXPROCESSING, &params, &device))) {
            device = nullptr;
            return false;
        }
    }

    ShowWindow(window, SW_SHOWDEFAULT);
    UpdateWindow(window);

    if (!windowed) {
        SetCursor(nullptr);
        RECT clip{0, 0, LONG(width) - 1, LONG(height) - 1};
        ClipCursor(&clip);
    }

    // Every draw is alpha-blended, and pixels of alpha 0 are discarded.
    device->SetRenderState(D3DRS_LIGHTING, TRUE);
    device->SetRenderState(D3DRS_SPECULARENABLE, TRUE);
    device->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_BLENDOP, D3DBLENDOP_ADD);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
    device->SetRenderState(D3DRS_ALPHAREF, 0);
    device->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);

    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);

    for (DWORD sampler = 0; sampler < 4; ++sampler) {
        device->SetSamplerState(sampler, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(sampler, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
        device->SetSamplerState(sampler, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
    }

    device->GetRenderTarget(0, &savedBackBuffer);
    device->GetDepthStencilSurface(&savedDepthStencil);
    device->GetViewport(&savedViewport);

    D3DXCreateFont(device, HFONT(GetStockObject(SYSTEM_FONT)), &font);
    return true;
}

LRESULT DemoEngine::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            // The window stays; the loop ends after this frame and the process takes the window with it.
            stop();
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) {
                stop();
                return 0;
            }
            break;
        case WM_SETCURSOR:
            if (!windowed) {
                SetCursor(nullptr);
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void DemoEngine::restoreRenderTarget() {
    device->SetRenderTarget(0, savedBackBuffer);
    device->SetDepthStencilSurface(savedDepthStencil);
    device->SetViewport(&savedViewport);
}
