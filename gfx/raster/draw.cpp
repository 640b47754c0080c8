#include "gfx/raster/raster.h"

namespace raster {

void draw(const State&, const Target&, const Geometry&) {}

}  // namespace raster
