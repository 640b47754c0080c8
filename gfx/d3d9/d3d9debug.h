// Controls for tests and offline tools: object accounting, frame readback, failure injection and a
// trace of device calls. The show never uses them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "gfx/d3d9/d3d9.h"

namespace d3d9debug {

// Objects of this layer alive in the process (devices, textures, surfaces, buffers, the Direct3D object).
long liveObjectCount();

// Present calls made on the device so far.
unsigned presentCount(IDirect3DDevice9* device);

// Copies a 32-bit surface (colour, or the D24S8 word of a depth surface) row by row.
bool readSurface(IDirect3DSurface9* surface, std::vector<uint32_t>& pixels, UINT& width, UINT& height);

// Copies the device's own back buffer, whatever target is current.
bool readBackBuffer(IDirect3DDevice9* device, std::vector<uint32_t>& pixels, UINT& width, UINT& height);

struct Failures {
    bool createDirect3D = false;       // Direct3DCreate9 returns null
    bool hardwareDevice = false;       // CreateDevice fails for hardware vertex processing
    bool anyDevice = false;            // CreateDevice always fails
    bool renderTargetTexture = false;  // CreateTexture with D3DUSAGE_RENDERTARGET fails
    bool depthStencilSurface = false;  // CreateDepthStencilSurface fails
    bool beginScene = false;           // BeginScene fails
};
void setFailures(const Failures& failures);

// While set, every device call appends one line such as "SetRenderState(137,1)" to `trace`.
void setCallTrace(std::vector<std::string>* trace);

}  // namespace d3d9debug
