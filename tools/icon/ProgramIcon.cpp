// Writes the program's icon for the desktop's hicolor icon theme, drawn by the tray icon's
// own code: OUTPUT/scalable/apps/brevalo.svg and OUTPUT/<N>x<N>/apps/brevalo.png.
//
// Usage: brevalo_program_icon <output folder>

#include "editor/FolderImages.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cstdio>

namespace {

bool writeSvg(const QString& folder) {
    if (!QDir().mkpath(folder))
        return false;
    QSvgGenerator svg;
    svg.setFileName(folder + "/brevalo.svg");
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRect(0, 0, 32, 32));
    svg.setTitle("Brevalo");
    QPainter painter;
    if (!painter.begin(&svg))
        return false;
    painter.setRenderHint(QPainter::Antialiasing);
    FolderImages::paintApplication(painter);
    return painter.end();
}

bool writePng(const QString& folder, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 32.0, size / 32.0);
    FolderImages::paintApplication(painter);
    painter.end();
    return QDir().mkpath(folder) && image.save(folder + "/brevalo.png");
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: brevalo_program_icon <output folder>\n");
        return 64;
    }
    QString output = QString::fromLocal8Bit(argv[1]);
    bool written = writeSvg(output + "/scalable/apps");
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        written = written && writePng(output + QString("/%1x%1/apps").arg(size), size);
    if (!written) {
        std::fprintf(stderr, "brevalo_program_icon: cannot write the icon into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
