#pragma once

#include <QIcon>

// The pictures of the configuration window, drawn in code. neuron(): the images of the
// trees and the learning-set list (0 a root, 1 a stimulation, 2 an expression, 3 a target
// folder, 4 a folder of the shown message, 5 an assigned message, 6 an unassigned one).
// action(): the toolbar pictures of the commands, 0 to 15: the desktop's icon theme's
// picture of that name where the theme has one, else the drawn 24 x 24 one.
class ConfigImages {
public:
    static QIcon neuron(int index);
    static QIcon action(int index);
    // The freedesktop icon name action(index) asks the theme for.
    static QString actionThemeName(int index);
    // The picture action(index) falls back to: a letter on a coloured square.
    static QIcon drawnAction(int index);
};
