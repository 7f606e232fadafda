#pragma once

#include <QIcon>

// The program's pictures, drawn in code so that they need no image plugin: the
// application icon and the folder images of the folder trees (index 0 an ordinary
// folder, special type + 1 for the special folders, -1 the whole store).
class FolderImages {
public:
    static QIcon application();
    static QIcon folder(int index);
};
