// Where each scene's window starts, in show order; each lasts until the next one starts, the last
// one for good. The scenes test their own bounds; this table is for tools that stage the show.
#pragma once

#include "platform/wintypes.h"

constexpr DWORD sceneStarts[] = {0, 18000, 50000, 82000, 98000, 130000};
constexpr int sceneCount = 6;
constexpr DWORD showEndMs = 136000;

inline int sceneIndexAt(DWORD t) {
    int index = 0;
    for (int i = 0; i < sceneCount; ++i)
        if (t >= sceneStarts[i]) index = i;
    return index;
}
