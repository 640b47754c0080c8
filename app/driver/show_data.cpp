// The data files in load order, and the scenes in show order.
#include "app/driver/demo.h"
#include "engine/demo_engine.h"
#include "engine/resources.h"

void loadShowData() {}

void buildScenes() {}
