// Loading the show's data files into the engine's registry, and the one fatal-error path.
#pragma once

#include <string>

#include "gfx/d3d9/d3d9.h"
#include "gfx/d3dx/d3dx9.h"

IDirect3DTexture9* loadTexture(const std::string& name, UINT mipLevels, D3DFORMAT format);
ID3DXMesh* loadMesh(const std::string& name, DWORD options);

// Borrowed pointer to what was loaded under `name`; a name that was not loaded is fatal.
IUnknown* getResource(const std::string& name);

[[noreturn]] void fatalError(const std::string& message);
