#pragma once

#include "core/CrossValidation.h"

#include <cstddef>

// The confusion picture needs Qt's painter, so it is drawn by a module loaded only when a
// picture is asked for: brevalo-cli starts once per delivered message and should not load
// Qt for that. The module lies beside the program in a build, in lib/brevalo installed.
constexpr const char* confusionPictureModule = "libbrevalo_picture.so";
constexpr const char* confusionPictureEntry = "brevaloDrawConfusion";

// The module's one entry point: draws the evaluation's confusion matrix (folderNames in
// output order) into path as PNG. 0 when written, else 1 with the reason in error.
using DrawConfusion = int (*)(const Evaluation* evaluation, const char* const* folderNames,
                              int folderCount, const char* path, char* error,
                              std::size_t errorSize);
