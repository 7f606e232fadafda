#pragma once

#include "core/CrossValidation.h"

#include <QImage>

#include <string>
#include <vector>

// The confusion matrix of an evaluation as a heat map: one row per folder (the messages'
// folder), one column per folder the net put them in and one for "no stimulation"; each
// cell shaded by its share of the row and labelled with its count.
class ConfusionPicture {
public:
    ConfusionPicture(const Evaluation& evaluation, std::vector<std::string> folderNames);
    // The picture (text needs a QGuiApplication).
    QImage image() const;
    // Draws the picture into the file as PNG. False, with *error set, when it could not
    // be written.
    bool save(const std::string& path, std::string* error) const;

private:
    const Evaluation& evaluation;
    std::vector<std::string> names;
};
