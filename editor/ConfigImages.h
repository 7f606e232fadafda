#pragma once

#include <QIcon>

// The pictures of the configuration window, drawn in code. neuron(): the images of the
// trees and the learning-set list (0 a root, 1 a stimulation, 2 an expression, 3 a target
// folder, 4 a folder of the shown message, 5 an assigned message, 6 an unassigned one).
// action(): the 24 x 24 toolbar pictures of the commands, 0 to 15.
class ConfigImages {
public:
    static QIcon neuron(int index);
    static QIcon action(int index);
};
