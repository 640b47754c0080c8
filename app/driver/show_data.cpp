// The data files in load order, and the scenes in show order.
#include "app/driver/demo.h"
#include "engine/demo_engine.h"
#include "engine/resources.h"
#include "scenes/biogen_scene.h"
#include "scenes/box_intro_scene.h"
#include "scenes/corrosion_scene.h"
#include "scenes/farewell_scene.h"
#include "scenes/greetings_scene.h"
#include "scenes/plupo_scene.h"

namespace {

enum class Kind { Texture, Mesh };

struct Load {
    const char* name;
    Kind kind;
    UINT mipLevels;  // textures: 0 = full chain
};

// name, kind, mip levels
const Load loadList[] = {
    {"text-tovira.png", Kind::Texture, 0},     {"text-kaldra.png", Kind::Texture, 0},
    {"text-presents.png", Kind::Texture, 0},   {"text-invitation.png", Kind::Texture, 0},
    {"planarbox41.x", Kind::Mesh, 0},          {"kaldobox.x", Kind::Mesh, 0},
    {"kaldobrown.jpg", Kind::Texture, 0},      {"kaldoback.jpg", Kind::Texture, 1},
    {"flareblue.jpg", Kind::Texture, 0},       {"bioplasma.jpg", Kind::Texture, 0},
    {"bioplasmaenv.jpg", Kind::Texture, 0},    {"grid.x", Kind::Mesh, 0},
    {"text-party.png", Kind::Texture, 0},      {"text-company.png", Kind::Texture, 0},
    {"text-friends.png", Kind::Texture, 0},    {"text-harmony.png", Kind::Texture, 0},
    {"biogen.x", Kind::Mesh, 0},               {"plupo.x", Kind::Mesh, 0},
    {"plupo.jpg", Kind::Texture, 0},           {"plupoback.jpg", Kind::Texture, 0},
    {"info-1.png", Kind::Texture, 0},          {"info-2.png", Kind::Texture, 0},
    {"info-3.png", Kind::Texture, 0},          {"info-4.png", Kind::Texture, 0},
    {"corrosea.jpg", Kind::Texture, 0},        {"corrosky.jpg", Kind::Texture, 0},
    {"creditz.png", Kind::Texture, 0},         {"flipcube.x", Kind::Mesh, 0},
    {"flipcube.jpg", Kind::Texture, 0},        {"bluetooth.x", Kind::Mesh, 0},
    {"bluetooth.jpg", Kind::Texture, 0},       {"bluetoothenv.jpg", Kind::Texture, 0},
    {"greetz.png", Kind::Texture, 0},          {"greetzover.png", Kind::Texture, 0},
    {"seeya.jpg", Kind::Texture, 1},
};

}  // namespace

void loadShowData() {
    for (const Load& load : loadList) {
        if (load.kind == Kind::Texture)
            loadTexture(load.name, load.mipLevels, D3DFMT_UNKNOWN);
        else
            loadMesh(load.name, D3DXMESH_MANAGED);
    }
}

void buildScenes() {
    engine->addScene(new BoxIntroScene());
    engine->addScene(new BiogenScene());
    engine->addScene(new PlupoScene());
    engine->addScene(new CorrosionScene());
    engine->addScene(new GreetingsScene());
    engine->addScene(new FarewellScene());
}
