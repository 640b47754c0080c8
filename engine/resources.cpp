#include "engine/resources.h"

#include "engine/demo_engine.h"

namespace {
const std::string dataDirectory = "data\\";
}

IDirect3DTexture9* loadTexture(const std::string& name, UINT mipLevels, D3DFORMAT format) {
    std::string path = dataDirectory + name;
    IDirect3DTexture9* texture = nullptr;
    HRESULT result = D3DXCreateTextureFromFileExA(device, path.c_str(), 0, 0, mipLevels, 0, format, D3DPOOL_MANAGED,
                                                  D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &texture);
    if (FAILED(result)) {
        texture = nullptr;
        result = D3DXCreateTextureFromFileExA(device, path.c_str(), 0, 0, mipLevels, 0, D3DFMT_UNKNOWN,
                                              D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr,
                                              &texture);
        if (FAILED(result)) fatalError("Can't load texture [" + path + "]");
    }
    engine->addResource(name, texture);
    return texture;
}

ID3DXMesh* loadMesh(const std::string& name, DWORD options) {
    std::string path = dataDirectory + name;
    ID3DXMesh* mesh = nullptr;
    if (FAILED(D3DXLoadMeshFromXA(path.c_str(), options, device, nullptr, nullptr, nullptr, nullptr, &mesh)))
        fatalError("Can't load mesh [" + path + "]");
    engine->addResource(name, mesh);
    return mesh;
}

void DemoEngine::addResource(const std::string& name, IUnknown* object) {
    // A name registered twice keeps its first object; the show never loads a name twice.
    resources.try_emplace(name, object);
}

IUnknown* DemoEngine::findResource(const std::string& name) {
    auto found = resources.find(name);
    if (found == resources.end()) fatalError("Can't find resource [" + name + "]");
    return found->second;
}

IUnknown* getResource(const std::string& name) { return engine->findResource(name); }

void fatalError(const std::string& message) {
    MessageBoxA(nullptr, message.c_str(), "ERROR", MB_OK);
    ExitProcess(1);
}
