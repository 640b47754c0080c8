#include "gfx/d3d9/device.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/present.h"

namespace d3d9impl {

d3d9debug::Failures failures;
std::vector<std::string>* callTrace = nullptr;

namespace {

D3DMATRIX identity() {
    D3DMATRIX m{};
    m._11 = m._22 = m._33 = m._44 = 1.0f;
    return m;
}

DWORD floatBits(float f) {
    DWORD d;
    std::memcpy(&d, &f, 4);
    return d;
}

float bitsFloat(DWORD d) {
    float f;
    std::memcpy(&f, &d, 4);
    return f;
}

template <typename T>
void replace(T*& slot, T* value) {
    if (value) value->AddRef();
    if (slot) slot->Release();
    slot = value;
}

raster::Color unpackColor(const D3DCOLORVALUE& c) { return raster::Color{c.r, c.g, c.b, c.a}; }

}  // namespace

Device::Device(Direct3D* owner, const D3DPRESENT_PARAMETERS& presentation, HWND focusWindow)
    : parent(owner), params(presentation), window(presentation.hDeviceWindow ? presentation.hDeviceWindow
                                                                              : focusWindow) {
    parent->AddRef();
    UINT width = params.BackBufferWidth ? params.BackBufferWidth : 640;
    UINT height = params.BackBufferHeight ? params.BackBufferHeight : 480;
    params.BackBufferWidth = width;
    params.BackBufferHeight = height;
    backBuffer = new Surface(this, width, height, D3DFMT_A8R8G8B8, D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, nullptr);
    renderTarget = backBuffer;
    renderTarget->AddRef();
    if (params.EnableAutoDepthStencil) {
        autoDepth = new Surface(this, width, height, D3DFMT_D24S8, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, nullptr);
        depthStencil = autoDepth;
        depthStencil->AddRef();
    }
    viewport = D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};

    // The documented defaults of every state.
    renderStates[D3DRS_ZENABLE] = params.EnableAutoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    renderStates[D3DRS_FILLMODE] = D3DFILL_SOLID;
    renderStates[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    renderStates[D3DRS_ZWRITEENABLE] = TRUE;
    renderStates[D3DRS_LASTPIXEL] = TRUE;
    renderStates[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    renderStates[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    renderStates[D3DRS_CULLMODE] = D3DCULL_CCW;
    renderStates[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    renderStates[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    renderStates[D3DRS_FOGEND] = floatBits(1.0f);
    renderStates[D3DRS_FOGDENSITY] = floatBits(1.0f);
    renderStates[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    renderStates[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    renderStates[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    renderStates[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    renderStates[D3DRS_CLIPPING] = TRUE;
    renderStates[D3DRS_LIGHTING] = TRUE;
    renderStates[D3DRS_COLORVERTEX] = TRUE;
    renderStates[D3DRS_LOCALVIEWER] = TRUE;
    renderStates[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    renderStates[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    renderStates[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    renderStates[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    renderStates[D3DRS_POINTSIZE] = floatBits(1.0f);
    renderStates[D3DRS_POINTSIZE_MIN] = floatBits(1.0f);
    renderStates[D3DRS_POINTSIZE_MAX] = floatBits(64.0f);
    renderStates[D3DRS_POINTSCALE_A] = floatBits(1.0f);
    renderStates[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    renderStates[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    renderStates[D3DRS_COLORWRITEENABLE] = 0xF;
    renderStates[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    renderStates[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    renderStates[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    renderStates[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    renderStates[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    renderStates[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    renderStates[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;

    for (DWORD stage = 0; stage < D3DMAX_TEXTURE_STAGES; ++stage) {
        auto& s = stageStates[stage];
        s[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        s[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        s[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        s[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        s[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        s[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        s[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        s[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        s[D3DTSS_RESULTARG] = D3DTA_CURRENT;
        s[D3DTSS_TEXCOORDINDEX] = stage;
        s[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        s[D3DTSS_CONSTANT] = 0xFFFFFFFF;
    }
    for (auto& s : samplerStates) {
        s[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        s[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        s[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        s[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        s[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        s[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        s[D3DSAMP_MAXANISOTROPY] = 1;
    }
    world = view = projection = identity();
    textureTransforms.fill(identity());
    // A light that was never set is a white directional light along +z.
    for (auto& light : lights) {
        light = D3DLIGHT9{};
        light.Type = D3DLIGHT_DIRECTIONAL;
        light.Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
        light.Direction = D3DVECTOR{0, 0, 1};
    }
}

Device::~Device() {
    for (auto& texture : textures) replace(texture, static_cast<IDirect3DBaseTexture9*>(nullptr));
    replace(stream, static_cast<VertexBuffer*>(nullptr));
    replace(indices, static_cast<IndexBuffer*>(nullptr));
    replace(renderTarget, static_cast<Surface*>(nullptr));
    replace(depthStencil, static_cast<Surface*>(nullptr));
    if (autoDepth) autoDepth->Release();
    backBuffer->Release();
    parent->Release();
}

void Device::trace(const char* format, ...) {
    if (!callTrace) return;
    char line[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    callTrace->push_back(line);
}

HRESULT Device::BeginScene() {
    trace("BeginScene()");
    if (failures.beginScene || inScene) return D3DERR_INVALIDCALL;
    inScene = true;
    return D3D_OK;
}

HRESULT Device::EndScene() {
    trace("EndScene()");
    if (!inScene) return D3DERR_INVALIDCALL;
    inScene = false;
    return D3D_OK;
}

HRESULT Device::Present(const RECT*, const RECT*, HWND overrideWindow, const void*) {
    trace("Present()");
    ++presents;
    HWND target = overrideWindow ? overrideWindow : window;
    presentToWindow(target, backBuffer->pixels.data(), int(backBuffer->width), int(backBuffer->height),
                    int(backBuffer->width * 4), params.PresentationInterval != D3DPRESENT_INTERVAL_IMMEDIATE);
    return D3D_OK;
}

HRESULT Device::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    trace("Clear(%u,%u,0x%08X,%g,%u)", unsigned(count), unsigned(flags), unsigned(color), double(z),
          unsigned(stencil));
    if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && !depthStencil) return D3DERR_INVALIDCALL;
    if (z < 0.0f || z > 1.0f) return D3DERR_INVALIDCALL;
    LONG vx1 = LONG(viewport.X), vy1 = LONG(viewport.Y);
    LONG vx2 = vx1 + LONG(viewport.Width), vy2 = vy1 + LONG(viewport.Height);
    vx2 = std::min(vx2, LONG(renderTarget->width));
    vy2 = std::min(vy2, LONG(renderTarget->height));
    const DWORD depthBits = DWORD(std::lround(double(z) * 0xFFFFFF)) << 8;
    const DWORD stencilBits = stencil & 0xFF;
    auto fill = [&](LONG x1, LONG y1, LONG x2, LONG y2) {
        x1 = std::max(x1, vx1);
        y1 = std::max(y1, vy1);
        x2 = std::min(x2, vx2);
        y2 = std::min(y2, vy2);
        for (LONG y = y1; y < y2; ++y) {
            if (flags & D3DCLEAR_TARGET) {
                uint32_t* row = renderTarget->pixels.data() + size_t(y) * renderTarget->width;
                std::fill(row + x1, row + x2, color);
            }
            if ((flags & (D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL)) && y < LONG(depthStencil->height)) {
                uint32_t* row = depthStencil->pixels.data() + size_t(y) * depthStencil->width;
                LONG end = std::min(x2, LONG(depthStencil->width));
                for (LONG x = x1; x < end; ++x) {
                    uint32_t v = row[x];
                    if (flags & D3DCLEAR_ZBUFFER) v = (v & 0xFF) | depthBits;
                    if (flags & D3DCLEAR_STENCIL) v = (v & 0xFFFFFF00u) | stencilBits;
                    row[x] = v;
                }
            }
        }
    };
    if (count == 0 || !rects) {
        fill(vx1, vy1, vx2, vy2);
    } else {
        for (DWORD i = 0; i < count; ++i) fill(rects[i].x1, rects[i].y1, rects[i].x2, rects[i].y2);
    }
    return D3D_OK;
}

HRESULT Device::CreateTexture(UINT width, UINT height, UINT levels, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                              IDirect3DTexture9** texture, HANDLE*) {
    trace("CreateTexture(%u,%u,%u,%u,%u,%u)", width, height, levels, unsigned(usage), unsigned(format),
          unsigned(pool));
    if (!texture) return D3DERR_INVALIDCALL;
    *texture = nullptr;
    if ((usage & D3DUSAGE_RENDERTARGET) && failures.renderTargetTexture) return D3DERR_NOTAVAILABLE;
    if (width == 0 || height == 0 || width > UINT(raster::maxTextureSize) || height > UINT(raster::maxTextureSize))
        return D3DERR_INVALIDCALL;
    if (!isColorFormat(format)) return D3DERR_INVALIDCALL;
    if ((usage & D3DUSAGE_RENDERTARGET) && pool != D3DPOOL_DEFAULT) return D3DERR_INVALIDCALL;
    *texture = new Texture(this, width, height, levels, usage, format, pool);
    return D3D_OK;
}

HRESULT Device::CreateDepthStencilSurface(UINT width, UINT height, D3DFORMAT format, D3DMULTISAMPLE_TYPE, DWORD,
                                          BOOL, IDirect3DSurface9** surface, HANDLE*) {
    trace("CreateDepthStencilSurface(%u,%u,%u)", width, height, unsigned(format));
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = nullptr;
    if (failures.depthStencilSurface) return D3DERR_NOTAVAILABLE;
    if (width == 0 || height == 0 || width > UINT(raster::maxTextureSize) || height > UINT(raster::maxTextureSize) ||
        !isDepthFormat(format))
        return D3DERR_INVALIDCALL;
    *surface = new Surface(this, width, height, format, D3DUSAGE_DEPTHSTENCIL, D3DPOOL_DEFAULT, nullptr);
    return D3D_OK;
}

HRESULT Device::CreateVertexBuffer(UINT length, DWORD usage, DWORD vertexFormat, D3DPOOL pool,
                                   IDirect3DVertexBuffer9** buffer, HANDLE*) {
    trace("CreateVertexBuffer(%u,%u,%u,%u)", length, unsigned(usage), unsigned(vertexFormat), unsigned(pool));
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > (1u << 28)) return D3DERR_INVALIDCALL;
    *buffer = new VertexBuffer(this, length, usage, vertexFormat, pool);
    return D3D_OK;
}

HRESULT Device::CreateIndexBuffer(UINT length, DWORD usage, D3DFORMAT format, D3DPOOL pool,
                                  IDirect3DIndexBuffer9** buffer, HANDLE*) {
    trace("CreateIndexBuffer(%u,%u,%u,%u)", length, unsigned(usage), unsigned(format), unsigned(pool));
    if (!buffer) return D3DERR_INVALIDCALL;
    *buffer = nullptr;
    if (length == 0 || length > (1u << 28) || (format != D3DFMT_INDEX16 && format != D3DFMT_INDEX32))
        return D3DERR_INVALIDCALL;
    *buffer = new IndexBuffer(this, length, usage, format, pool);
    return D3D_OK;
}

HRESULT Device::GetRenderTarget(DWORD index, IDirect3DSurface9** surface) {
    trace("GetRenderTarget(%u)", unsigned(index));
    if (!surface || index != 0) return D3DERR_INVALIDCALL;
    *surface = renderTarget;
    renderTarget->AddRef();
    return D3D_OK;
}

HRESULT Device::SetRenderTarget(DWORD index, IDirect3DSurface9* surface) {
    trace("SetRenderTarget(%u,%p)", unsigned(index), static_cast<void*>(surface));
    if (index != 0 || !surface) return D3DERR_INVALIDCALL;
    auto* s = static_cast<Surface*>(surface);
    if (!(s->usage & D3DUSAGE_RENDERTARGET) || !isColorFormat(s->format)) return D3DERR_INVALIDCALL;
    replace(renderTarget, s);
    // A new target brings a viewport that covers it.
    viewport = D3DVIEWPORT9{0, 0, s->width, s->height, 0.0f, 1.0f};
    return D3D_OK;
}

HRESULT Device::GetDepthStencilSurface(IDirect3DSurface9** surface) {
    trace("GetDepthStencilSurface()");
    if (!surface) return D3DERR_INVALIDCALL;
    *surface = depthStencil;
    if (!depthStencil) return D3DERR_NOTAVAILABLE;
    depthStencil->AddRef();
    return D3D_OK;
}

HRESULT Device::SetDepthStencilSurface(IDirect3DSurface9* surface) {
    trace("SetDepthStencilSurface(%p)", static_cast<void*>(surface));
    auto* s = static_cast<Surface*>(surface);
    if (s && !isDepthFormat(s->format)) return D3DERR_INVALIDCALL;
    replace(depthStencil, s);
    return D3D_OK;
}

HRESULT Device::GetViewport(D3DVIEWPORT9* out) {
    trace("GetViewport()");
    if (!out) return D3DERR_INVALIDCALL;
    *out = viewport;
    return D3D_OK;
}

HRESULT Device::SetViewport(const D3DVIEWPORT9* in) {
    if (!in) return D3DERR_INVALIDCALL;
    trace("SetViewport(%u,%u,%u,%u,%g,%g)", unsigned(in->X), unsigned(in->Y), unsigned(in->Width),
          unsigned(in->Height), double(in->MinZ), double(in->MaxZ));
    if (in->X + in->Width > renderTarget->width || in->Y + in->Height > renderTarget->height)
        return D3DERR_INVALIDCALL;
    viewport = *in;
    return D3D_OK;
}

HRESULT Device::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    trace("SetRenderState(%u,%u)", unsigned(state), unsigned(value));
    if (DWORD(state) >= D3DRS_STATE_COUNT) return D3DERR_INVALIDCALL;
    renderStates[state] = value;
    return D3D_OK;
}

HRESULT Device::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    if (!value || DWORD(state) >= D3DRS_STATE_COUNT) return D3DERR_INVALIDCALL;
    *value = renderStates[state];
    return D3D_OK;
}

HRESULT Device::SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    trace("SetTextureStageState(%u,%u,%u)", unsigned(stage), unsigned(type), unsigned(value));
    if (stage >= D3DMAX_TEXTURE_STAGES || DWORD(type) >= D3DTSS_STATE_COUNT) return D3DERR_INVALIDCALL;
    stageStates[stage][type] = value;
    return D3D_OK;
}

HRESULT Device::GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) {
    if (!value || stage >= D3DMAX_TEXTURE_STAGES || DWORD(type) >= D3DTSS_STATE_COUNT) return D3DERR_INVALIDCALL;
    *value = stageStates[stage][type];
    return D3D_OK;
}

HRESULT Device::SetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    trace("SetSamplerState(%u,%u,%u)", unsigned(sampler), unsigned(type), unsigned(value));
    if (sampler >= D3DMAX_SAMPLERS || DWORD(type) >= D3DSAMP_STATE_COUNT) return D3DERR_INVALIDCALL;
    samplerStates[sampler][type] = value;
    return D3D_OK;
}

HRESULT Device::GetSamplerState(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD* value) {
    if (!value || sampler >= D3DMAX_SAMPLERS || DWORD(type) >= D3DSAMP_STATE_COUNT) return D3DERR_INVALIDCALL;
    *value = samplerStates[sampler][type];
    return D3D_OK;
}

HRESULT Device::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    if (!matrix) return D3DERR_INVALIDCALL;
    trace("SetTransform(%u)", unsigned(state));
    if (state == D3DTS_WORLD) world = *matrix;
    else if (state == D3DTS_VIEW) view = *matrix;
    else if (state == D3DTS_PROJECTION) projection = *matrix;
    else if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) textureTransforms[state - D3DTS_TEXTURE0] = *matrix;
    else return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT Device::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    if (!matrix) return D3DERR_INVALIDCALL;
    if (state == D3DTS_WORLD) *matrix = world;
    else if (state == D3DTS_VIEW) *matrix = view;
    else if (state == D3DTS_PROJECTION) *matrix = projection;
    else if (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) *matrix = textureTransforms[state - D3DTS_TEXTURE0];
    else return D3DERR_INVALIDCALL;
    return D3D_OK;
}

HRESULT Device::SetMaterial(const D3DMATERIAL9* in) {
    trace("SetMaterial()");
    if (!in) return D3DERR_INVALIDCALL;
    material = *in;
    return D3D_OK;
}

HRESULT Device::GetMaterial(D3DMATERIAL9* out) {
    if (!out) return D3DERR_INVALIDCALL;
    *out = material;
    return D3D_OK;
}

HRESULT Device::SetLight(DWORD index, const D3DLIGHT9* light) {
    trace("SetLight(%u)", unsigned(index));
    if (!light || index >= lights.size()) return D3DERR_INVALIDCALL;
    lights[index] = *light;
    return D3D_OK;
}

HRESULT Device::GetLight(DWORD index, D3DLIGHT9* light) {
    if (!light || index >= lights.size()) return D3DERR_INVALIDCALL;
    *light = lights[index];
    return D3D_OK;
}

HRESULT Device::LightEnable(DWORD index, BOOL enable) {
    trace("LightEnable(%u,%d)", unsigned(index), int(enable));
    if (index >= lights.size()) return D3DERR_INVALIDCALL;
    lightEnabled[index] = enable != FALSE;
    return D3D_OK;
}

HRESULT Device::GetLightEnable(DWORD index, BOOL* enable) {
    if (!enable || index >= lights.size()) return D3DERR_INVALIDCALL;
    *enable = lightEnabled[index] ? TRUE : FALSE;
    return D3D_OK;
}

HRESULT Device::SetTexture(DWORD stage, IDirect3DBaseTexture9* texture) {
    trace("SetTexture(%u,%p)", unsigned(stage), static_cast<void*>(texture));
    if (stage >= D3DMAX_SAMPLERS) return D3DERR_INVALIDCALL;
    replace(textures[stage], texture);
    return D3D_OK;
}

HRESULT Device::GetTexture(DWORD stage, IDirect3DBaseTexture9** texture) {
    if (!texture || stage >= D3DMAX_SAMPLERS) return D3DERR_INVALIDCALL;
    *texture = textures[stage];
    if (*texture) (*texture)->AddRef();
    return D3D_OK;
}

HRESULT Device::SetFVF(DWORD value) {
    trace("SetFVF(0x%X)", unsigned(value));
    fvf = value;
    return D3D_OK;
}

HRESULT Device::GetFVF(DWORD* value) {
    if (!value) return D3DERR_INVALIDCALL;
    *value = fvf;
    return D3D_OK;
}

HRESULT Device::SetStreamSource(UINT index, IDirect3DVertexBuffer9* buffer, UINT offsetBytes, UINT stride) {
    trace("SetStreamSource(%u,%p,%u,%u)", index, static_cast<void*>(buffer), offsetBytes, stride);
    if (index != 0) return D3DERR_INVALIDCALL;
    replace(stream, static_cast<VertexBuffer*>(buffer));
    streamOffset = offsetBytes;
    streamStride = stride;
    return D3D_OK;
}

HRESULT Device::SetIndices(IDirect3DIndexBuffer9* buffer) {
    trace("SetIndices(%p)", static_cast<void*>(buffer));
    replace(indices, static_cast<IndexBuffer*>(buffer));
    return D3D_OK;
}

bool Device::target(raster::Target& out) {
    out.color = renderTarget->pixels.data();
    out.colorPitch = int(renderTarget->width);
    out.colorWidth = int(renderTarget->width);
    out.colorHeight = int(renderTarget->height);
    if (depthStencil) {
        out.depthStencil = depthStencil->pixels.data();
        out.depthPitch = int(depthStencil->width);
        out.depthWidth = int(depthStencil->width);
        out.depthHeight = int(depthStencil->height);
    }
    return true;
}

void Device::resolveState(raster::State& s) {
    std::memcpy(s.world, &world, sizeof s.world);
    std::memcpy(s.view, &view, sizeof s.view);
    std::memcpy(s.projection, &projection, sizeof s.projection);
    s.viewport = raster::Viewport{int(viewport.X), int(viewport.Y), int(viewport.Width), int(viewport.Height),
                                  viewport.MinZ, viewport.MaxZ};
    const auto& r = renderStates;
    s.lighting = r[D3DRS_LIGHTING] != 0;
    s.specularEnable = r[D3DRS_SPECULARENABLE] != 0;
    s.normalizeNormals = r[D3DRS_NORMALIZENORMALS] != 0;
    s.localViewer = r[D3DRS_LOCALVIEWER] != 0;
    s.colorVertex = r[D3DRS_COLORVERTEX] != 0;
    s.ambient = r[D3DRS_AMBIENT];
    s.diffuseSource = r[D3DRS_DIFFUSEMATERIALSOURCE];
    s.ambientSource = r[D3DRS_AMBIENTMATERIALSOURCE];
    s.specularSource = r[D3DRS_SPECULARMATERIALSOURCE];
    s.emissiveSource = r[D3DRS_EMISSIVEMATERIALSOURCE];
    s.material = raster::Material{unpackColor(material.Diffuse), unpackColor(material.Ambient),
                                  unpackColor(material.Specular), unpackColor(material.Emissive), material.Power};
    for (size_t i = 0; i < lights.size(); ++i) {
        const D3DLIGHT9& l = lights[i];
        raster::Light& out = s.lights[i];
        out.enabled = lightEnabled[i];
        out.type = l.Type;
        out.diffuse = unpackColor(l.Diffuse);
        out.specular = unpackColor(l.Specular);
        out.ambient = unpackColor(l.Ambient);
        out.position[0] = l.Position.x;
        out.position[1] = l.Position.y;
        out.position[2] = l.Position.z;
        out.direction[0] = l.Direction.x;
        out.direction[1] = l.Direction.y;
        out.direction[2] = l.Direction.z;
        out.range = l.Range;
        out.falloff = l.Falloff;
        out.attenuation0 = l.Attenuation0;
        out.attenuation1 = l.Attenuation1;
        out.attenuation2 = l.Attenuation2;
        out.theta = l.Theta;
        out.phi = l.Phi;
    }
    s.cullMode = r[D3DRS_CULLMODE];
    s.fillMode = r[D3DRS_FILLMODE];
    s.shadeMode = r[D3DRS_SHADEMODE];
    s.zEnable = depthStencil ? r[D3DRS_ZENABLE] : 0;
    s.zWriteEnable = r[D3DRS_ZWRITEENABLE];
    s.zFunc = r[D3DRS_ZFUNC];
    s.alphaTestEnable = r[D3DRS_ALPHATESTENABLE] != 0;
    s.alphaRef = r[D3DRS_ALPHAREF] & 0xFF;
    s.alphaFunc = r[D3DRS_ALPHAFUNC];
    s.alphaBlendEnable = r[D3DRS_ALPHABLENDENABLE] != 0;
    s.srcBlend = r[D3DRS_SRCBLEND];
    s.destBlend = r[D3DRS_DESTBLEND];
    s.blendOp = r[D3DRS_BLENDOP];
    s.stencilEnable = r[D3DRS_STENCILENABLE] != 0 && depthStencil;
    s.stencilFail = r[D3DRS_STENCILFAIL];
    s.stencilZFail = r[D3DRS_STENCILZFAIL];
    s.stencilPass = r[D3DRS_STENCILPASS];
    s.stencilFunc = r[D3DRS_STENCILFUNC];
    s.stencilRef = r[D3DRS_STENCILREF];
    s.stencilMask = r[D3DRS_STENCILMASK];
    s.stencilWriteMask = r[D3DRS_STENCILWRITEMASK];
    s.colorWriteEnable = r[D3DRS_COLORWRITEENABLE];
    s.textureFactor = r[D3DRS_TEXTUREFACTOR];
    s.pointSpriteEnable = r[D3DRS_POINTSPRITEENABLE] != 0;
    s.pointScaleEnable = r[D3DRS_POINTSCALEENABLE] != 0;
    s.pointSize = bitsFloat(r[D3DRS_POINTSIZE]);
    s.pointSizeMin = bitsFloat(r[D3DRS_POINTSIZE_MIN]);
    s.pointSizeMax = bitsFloat(r[D3DRS_POINTSIZE_MAX]);
    s.pointScaleA = bitsFloat(r[D3DRS_POINTSCALE_A]);
    s.pointScaleB = bitsFloat(r[D3DRS_POINTSCALE_B]);
    s.pointScaleC = bitsFloat(r[D3DRS_POINTSCALE_C]);
    for (int i = 0; i < raster::maxTextureStages; ++i) {
        const auto& t = stageStates[i];
        raster::Stage& st = s.stages[i];
        st.colorOp = t[D3DTSS_COLOROP];
        st.colorArg1 = t[D3DTSS_COLORARG1];
        st.colorArg2 = t[D3DTSS_COLORARG2];
        st.colorArg0 = t[D3DTSS_COLORARG0];
        st.alphaOp = t[D3DTSS_ALPHAOP];
        st.alphaArg1 = t[D3DTSS_ALPHAARG1];
        st.alphaArg2 = t[D3DTSS_ALPHAARG2];
        st.alphaArg0 = t[D3DTSS_ALPHAARG0];
        st.resultArg = t[D3DTSS_RESULTARG];
        st.texCoordIndex = t[D3DTSS_TEXCOORDINDEX];
        st.transformFlags = t[D3DTSS_TEXTURETRANSFORMFLAGS];
        std::memcpy(st.textureMatrix, &textureTransforms[i], sizeof st.textureMatrix);
        st.texture = textures[i] ? &static_cast<Texture*>(static_cast<IDirect3DTexture9*>(textures[i]))->view()
                                 : nullptr;
        const auto& sm = samplerStates[i];
        st.sampler.addressU = raster::Address(sm[D3DSAMP_ADDRESSU]);
        st.sampler.addressV = raster::Address(sm[D3DSAMP_ADDRESSV]);
        st.sampler.mag = raster::Filter(std::min<DWORD>(sm[D3DSAMP_MAGFILTER], 2));
        st.sampler.min = raster::Filter(std::min<DWORD>(sm[D3DSAMP_MINFILTER], 2));
        st.sampler.mip = raster::Filter(std::min<DWORD>(sm[D3DSAMP_MIPFILTER], 2));
        st.sampler.borderColor = sm[D3DSAMP_BORDERCOLOR];
    }
}

HRESULT Device::drawGeometry(raster::Geometry& geometry) {
    if (geometry.primitiveCount == 0) return D3D_OK;
    // Static so a draw allocates nothing; one device draws at a time on its thread.
    thread_local raster::State state;
    resolveState(state);
    raster::Target t;
    target(t);
    raster::draw(state, t, geometry);
    return D3D_OK;
}

HRESULT Device::DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) {
    trace("DrawPrimitive(%u,%u,%u)", unsigned(type), startVertex, primitiveCount);
    if (!stream || streamStride == 0) return D3DERR_INVALIDCALL;
    raster::Geometry g;
    g.fvf = fvf;
    g.stride = streamStride;
    size_t start = size_t(streamOffset) + size_t(startVertex) * streamStride;
    if (start > stream->bytes.size()) return D3DERR_INVALIDCALL;
    g.vertices = stream->bytes.data() + start;
    g.vertexCount = UINT((stream->bytes.size() - start) / streamStride);
    g.primitive = raster::Primitive(type);
    g.primitiveCount = primitiveCount;
    return drawGeometry(g);
}

HRESULT Device::DrawIndexedPrimitive(D3DPRIMITIVETYPE type, INT baseVertexIndex, UINT, UINT, UINT startIndex,
                                     UINT primitiveCount) {
    trace("DrawIndexedPrimitive(%u,%d,%u,%u)", unsigned(type), baseVertexIndex, startIndex, primitiveCount);
    if (!stream || !indices || streamStride == 0) return D3DERR_INVALIDCALL;
    raster::Geometry g;
    g.fvf = fvf;
    g.stride = streamStride;
    if (streamOffset > stream->bytes.size()) return D3DERR_INVALIDCALL;
    g.vertices = stream->bytes.data() + streamOffset;
    g.vertexCount = UINT((stream->bytes.size() - streamOffset) / streamStride);
    g.indices32 = indices->format == D3DFMT_INDEX32;
    size_t indexSize = g.indices32 ? 4 : 2;
    size_t first = size_t(startIndex) * indexSize;
    if (first > indices->bytes.size()) return D3DERR_INVALIDCALL;
    g.indices = indices->bytes.data() + first;
    g.indexCount = UINT((indices->bytes.size() - first) / indexSize);
    g.baseVertex = baseVertexIndex;
    g.primitive = raster::Primitive(type);
    g.primitiveCount = primitiveCount;
    return drawGeometry(g);
}

HRESULT Device::DrawPrimitiveUP(D3DPRIMITIVETYPE type, UINT primitiveCount, const void* vertexData, UINT stride) {
    trace("DrawPrimitiveUP(%u,%u,%u)", unsigned(type), primitiveCount, stride);
    if (!vertexData || stride == 0) return D3DERR_INVALIDCALL;
    raster::Geometry g;
    g.fvf = fvf;
    g.stride = stride;
    g.vertices = static_cast<const uint8_t*>(vertexData);
    UINT needed = 0;
    switch (type) {
        case D3DPT_POINTLIST: needed = primitiveCount; break;
        case D3DPT_LINELIST: needed = primitiveCount * 2; break;
        case D3DPT_LINESTRIP: needed = primitiveCount + 1; break;
        case D3DPT_TRIANGLELIST: needed = primitiveCount * 3; break;
        default: needed = primitiveCount + 2; break;
    }
    g.vertexCount = needed;
    g.primitive = raster::Primitive(type);
    g.primitiveCount = primitiveCount;
    // Drawing from memory unbinds the stream, as the runtime does.
    replace(stream, static_cast<VertexBuffer*>(nullptr));
    return drawGeometry(g);
}

HRESULT Direct3D::CreateDevice(UINT adapter, D3DDEVTYPE, HWND focusWindow, DWORD behaviorFlags,
                               D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device) {
    if (!device || !params || adapter != D3DADAPTER_DEFAULT) return D3DERR_INVALIDCALL;
    *device = nullptr;
    if (failures.anyDevice) return D3DERR_NOTAVAILABLE;
    if (failures.hardwareDevice && (behaviorFlags & D3DCREATE_HARDWARE_VERTEXPROCESSING)) return D3DERR_NOTAVAILABLE;
    if (params->BackBufferFormat != D3DFMT_A8R8G8B8 && params->BackBufferFormat != D3DFMT_X8R8G8B8 &&
        params->BackBufferFormat != D3DFMT_UNKNOWN)
        return D3DERR_NOTAVAILABLE;
    if (params->EnableAutoDepthStencil && !isDepthFormat(params->AutoDepthStencilFormat)) return D3DERR_NOTAVAILABLE;
    if (params->BackBufferWidth > UINT(raster::maxTextureSize) || params->BackBufferHeight > UINT(raster::maxTextureSize))
        return D3DERR_NOTAVAILABLE;
    *device = new Device(this, *params, focusWindow);
    return D3D_OK;
}

}  // namespace d3d9impl

IDirect3D9* Direct3DCreate9(UINT sdkVersion) {
    if (d3d9impl::failures.createDirect3D) return nullptr;
    if (sdkVersion != 31 && sdkVersion != D3D_SDK_VERSION) return nullptr;
    return new d3d9impl::Direct3D();
}

namespace d3d9debug {

long liveObjectCount() { return d3d9impl::liveObjects.load(); }

unsigned presentCount(IDirect3DDevice9* device) {
    return device ? static_cast<d3d9impl::Device*>(device)->presents : 0;
}

bool readSurface(IDirect3DSurface9* surface, std::vector<uint32_t>& pixels, UINT& width, UINT& height) {
    if (!surface) return false;
    auto* s = static_cast<d3d9impl::Surface*>(surface);
    pixels = s->pixels;
    width = s->width;
    height = s->height;
    return true;
}

bool readBackBuffer(IDirect3DDevice9* device, std::vector<uint32_t>& pixels, UINT& width, UINT& height) {
    if (!device) return false;
    return readSurface(static_cast<d3d9impl::Device*>(device)->backBuffer, pixels, width, height);
}

void setFailures(const Failures& f) { d3d9impl::failures = f; }
void setCallTrace(std::vector<std::string>* trace) { d3d9impl::callTrace = trace; }

}  // namespace d3d9debug
