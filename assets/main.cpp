// kaldra-assets: writes the show's data folder and music from code.
//   kaldra-assets <show folder>   ->  <show folder>/data/<7 meshes, 28 pictures> and <show folder>/kaldra.mp3
// Deterministic: one thread, fixed seeds, explicit rounding; the same program writes the same bytes.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "assets/generator.h"

int main(int argc, char** argv) {
    if (argc != 2 && !(argc == 3 && std::strcmp(argv[2], "--no-music") == 0)) {
        std::fprintf(stderr, "usage: kaldra-assets <show folder> [--no-music]\n");
        return 2;
    }
    std::string show = argv[1], data = show + "/data";
    mkdir(show.c_str(), 0755);
    mkdir(data.c_str(), 0755);
    if (!gen::writeMeshes(data) || !gen::writePictures(data)) return 1;
    if (argc == 2 && !gen::writeMusic(show + "/kaldra.mp3")) return 1;
    return 0;
}
