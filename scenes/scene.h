// The base of the six scenes. A scene alone decides from the show time whether it is active; outside
// its window it clears `prepared` and makes no device call.
#pragma once

#include "platform/wintypes.h"

class Scene {
public:
    virtual ~Scene() = default;
    virtual void render(DWORD timeMs) = 0;

    // True once the prepare step has run since the scene last became active.
    bool prepared = false;
};
