#pragma once

#include <string>

// The data files the programs ship with ("strings.ini", "res/chart.bmp"): a build folder
// keeps them beside the programs, an install in the data folder share/brevalo. That folder
// is found relative to the program's own folder, so an install under any prefix (or in a
// DESTDIR, or moved as a whole) finds its files.

// The installed data folder of a program in programFolder, with a trailing slash.
std::string installedDataFolder(const std::string& programFolder);
// name beside the program when it is there, else in the installed data folder (whether or
// not it exists there: the caller reports the missing file by that name).
std::string findDataFile(const std::string& programFolder, const std::string& name);
