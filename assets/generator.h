// The asset generator's parts: each writes its files into the show folder and reports failure.
#pragma once

#include <string>

namespace gen {

bool writeMeshes(const std::string& dataDir);    // the 7 .x meshes
bool writePictures(const std::string& dataDir);  // the 28 JPEG and PNG pictures
bool writeMusic(const std::string& mp3Path);     // kaldra.mp3

}  // namespace gen
