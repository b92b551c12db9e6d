// The q3d options' texts and names, shared by both roads' command lines.
#include "q3d_options.h"

namespace qrv::render {

const char *const kModelOptionHelp =
    "Draws a q3d model file instead of a depth image: the grid of depth values that "
    "--write-model writes (0 nearest, 255 farthest). The photo is the model's name with its "
    "last three characters replaced by \"bmp\" (garden.q3d: garden.bmp), as the library takes "
    "it; no PHOTO is given with --model, and the pop-up percentage does not change a model.";

const char *const kWriteModelOptionHelp =
    "Also writes the model of the depth image as a q3d file, named FILE with its last three "
    "characters replaced by \"q3d\" (a new file: one there before is replaced whole). On the "
    "view road it holds the depth values at the pop-up percentage; with --standalone the grid "
    "of four points a pixel and the colour image's colours.";

std::string ModelFileFor(const std::string &name) {
    if (name.size() < 3) return {};
    return name.substr(0, name.size() - 3) + "q3d";
}

std::string ModelPhotoFor(const std::string &model) {
    if (model.size() < 3) return {};
    return model.substr(0, model.size() - 3) + "bmp";
}

} // namespace qrv::render
