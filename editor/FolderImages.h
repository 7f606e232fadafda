#pragma once

#include <QIcon>

class QPainter;

// The program's pictures, drawn in code so that they need no image plugin: the
// application icon and the folder images of the folder trees (index 0 an ordinary
// folder, special type + 1 for the special folders, -1 the whole store).
class FolderImages {
public:
    static QIcon application();
    // Paints the application icon on a 32 x 32 grid (the icon files for the desktop's
    // icon theme are drawn from it too).
    static void paintApplication(QPainter& painter);
    static QIcon folder(int index);
};
