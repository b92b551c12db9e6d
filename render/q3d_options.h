// qrv-render's q3d model options: "--model FILE" draws a model file on the view
// road, "--write-model FILE" writes the model of the depth image (and of the
// colour image on the StandaloneEngine road) on either road. The names of the
// files the library reads and writes for them.
#pragma once

#include <string>

namespace qrv::render {

// The help texts of the options, for the option tables of both roads.
extern const char *const kModelOptionHelp;
extern const char *const kWriteModelOptionHelp;

// The file the library writes for a name: its last three characters replaced by
// "q3d" ("relief.bmp" -> "relief.q3d"). Empty when the name is too short.
std::string ModelFileFor(const std::string &name);

// The photo the view road drapes over a model: the model's name with its last
// three characters replaced by "bmp", as the library takes it. Empty when the
// name is too short.
std::string ModelPhotoFor(const std::string &model);

} // namespace qrv::render
