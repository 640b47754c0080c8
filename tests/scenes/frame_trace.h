// Device calls of one frame in a form a test can hold against a scene's list of steps: texture
// pointers become resource names, and the calls a mesh or quad makes to draw itself become one line.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "engine/demo_engine.h"
#include "gfx/d3d9/d3d9debug.h"

namespace frametrace {

inline std::string format(const char* pattern, unsigned a, unsigned b, unsigned c = 0) {
    char line[96];
    std::snprintf(line, sizeof line, pattern, a, b, c);
    return line;
}
inline std::string rs(D3DRENDERSTATETYPE state, DWORD value) {
    return format("SetRenderState(%u,%u)", unsigned(state), unsigned(value));
}
inline std::string tss(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) {
    return format("SetTextureStageState(%u,%u,%u)", unsigned(stage), unsigned(type), unsigned(value));
}
inline std::string samp(DWORD sampler, D3DSAMPLERSTATETYPE type, DWORD value) {
    return format("SetSamplerState(%u,%u,%u)", unsigned(sampler), unsigned(type), unsigned(value));
}
inline std::string transform(D3DTRANSFORMSTATETYPE state) {
    return format("SetTransform(%u)", unsigned(state), 0);
}
inline std::string texture(DWORD stage, const std::string& name) {
    return "SetTexture(" + std::to_string(stage) + "," + name + ")";
}
inline std::vector<std::string> stencil(DWORD passOp, DWORD func, DWORD ref, DWORD mask) {
    return {rs(D3DRS_STENCILPASS, passOp), rs(D3DRS_STENCILFUNC, func), rs(D3DRS_STENCILREF, ref),
            rs(D3DRS_STENCILMASK, mask), rs(D3DRS_STENCILWRITEMASK, mask)};
}
const std::string mesh = "draw mesh";
const std::string quad = "draw quad";
const std::string texturedQuad = "draw textured quad";

// Renders one frame through the engine and returns its calls between BeginScene and EndScene.
inline std::vector<std::string> frameCalls(DWORD timeMs) {
    std::map<std::string, std::string> names{{"(nil)", "none"}};
    for (const auto& [name, object] : engine->resources) {
        char pointer[32];
        std::snprintf(pointer, sizeof pointer, "%p", static_cast<void*>(object));
        names[pointer] = name;
    }
    std::vector<std::string> raw, calls;
    d3d9debug::setCallTrace(&raw);
    engine->renderFrame(timeMs);
    d3d9debug::setCallTrace(nullptr);
    for (const std::string& call : raw) {
        if (call == "BeginScene()" || call == "EndScene()" || call == "Present()") continue;
        if (call.starts_with("SetFVF") || call.starts_with("SetStreamSource") ||
            call.starts_with("SetIndices"))
            continue;
        if (call.starts_with("DrawIndexedPrimitive")) {
            calls.push_back(mesh);
        } else if (call.starts_with("DrawPrimitiveUP")) {
            calls.push_back(call == "DrawPrimitiveUP(5,2,28)" ? texturedQuad : quad);
        } else if (call.starts_with("SetTexture(")) {
            const size_t comma = call.find(',');
            const std::string pointer = call.substr(comma + 1, call.size() - comma - 2);
            const auto found = names.find(pointer);
            calls.push_back(call.substr(0, comma + 1) + (found == names.end() ? pointer : found->second) +
                            ")");
        } else {
            calls.push_back(call);
        }
    }
    return calls;
}

// Appends lists in order, so an expected frame reads like the scene's steps.
inline std::vector<std::string> join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

}  // namespace frametrace
