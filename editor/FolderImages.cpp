#include "editor/FolderImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

// Everything is drawn on a 32 x 32 grid and scaled for the other sizes.
using Draw = void (*)(QPainter&, int);

QIcon drawnIcon(Draw draw, int variant) {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 32.0, size / 32.0);
        draw(painter, variant);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void drawApplication(QPainter& p, int) {
    // A blue disc with a white envelope whose flap lines meet in a small network node.
    p.setPen(Qt::NoPen);
    QLinearGradient disc(0, 0, 0, 32);
    disc.setColorAt(0, QColor(0x3a, 0x8d, 0xde));
    disc.setColorAt(1, QColor(0x1d, 0x5a, 0xa8));
    p.setBrush(disc);
    p.drawEllipse(QRectF(1, 1, 30, 30));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(7, 10, 18, 13), 1.5, 1.5);
    p.setPen(QPen(QColor(0x1d, 0x5a, 0xa8), 1.6));
    p.drawLine(QPointF(7.5, 10.8), QPointF(16, 17.5));
    p.drawLine(QPointF(24.5, 10.8), QPointF(16, 17.5));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xf5, 0xa6, 0x23));
    p.drawEllipse(QPointF(16, 17.5), 2.6, 2.6);
    p.drawEllipse(QPointF(8, 7), 1.8, 1.8);
    p.drawEllipse(QPointF(24, 7), 1.8, 1.8);
}

void drawFolderBody(QPainter& p, QColor back, QColor front) {
    p.setPen(QPen(back.darker(140), 1));
    p.setBrush(back);
    QPainterPath tab;
    tab.moveTo(3, 9);
    tab.lineTo(3, 6.5);
    tab.lineTo(12, 6.5);
    tab.lineTo(14.5, 9);
    tab.lineTo(29, 9);
    tab.lineTo(29, 26);
    tab.lineTo(3, 26);
    tab.closeSubpath();
    p.drawPath(tab);
    p.setBrush(front);
    p.drawRoundedRect(QRectF(3, 12, 26, 14), 1, 1);
}

void drawEmblem(QPainter& p, int index) {
    const QPointF centre(22, 21);
    switch (index) {
    case 1: { // inbox: an arrow down into a tray
        p.setPen(QPen(QColor(0x1d, 0x5a, 0xa8), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 14), QPointF(16, 22));
        p.drawLine(QPointF(12.5, 18.5), QPointF(16, 22));
        p.drawLine(QPointF(19.5, 18.5), QPointF(16, 22));
        break;
    }
    case 2: { // outbox: an arrow up
        p.setPen(QPen(QColor(0x2e, 0x8b, 0x3a), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(16, 23), QPointF(16, 15));
        p.drawLine(QPointF(12.5, 18.5), QPointF(16, 15));
        p.drawLine(QPointF(19.5, 18.5), QPointF(16, 15));
        break;
    }
    case 3: { // sent: a paper plane
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2e, 0x8b, 0x3a));
        QPolygonF plane({QPointF(9, 19), QPointF(24, 14), QPointF(17, 24), QPointF(15.5, 20.5)});
        p.drawPolygon(plane);
        break;
    }
    case 4: { // deleted items: a cross
        p.setPen(QPen(QColor(0x80, 0x80, 0x80), 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12.5, 15.5), QPointF(19.5, 22.5));
        p.drawLine(QPointF(19.5, 15.5), QPointF(12.5, 22.5));
        break;
    }
    case 5: { // drafts: a pencil
        p.setPen(QPen(QColor(0x7a, 0x4e, 0x1d), 2.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 23), QPointF(20, 14));
        break;
    }
    case 6: { // junk: a red no-entry sign
        p.setPen(QPen(QColor(0xc6, 0x28, 0x28), 2));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(centre, 5, 5);
        p.drawLine(QPointF(18.5, 24.5), QPointF(25.5, 17.5));
        break;
    }
    default:
        break;
    }
}

void drawFolder(QPainter& p, int index) {
    if (index < 0) {
        // The whole store: a stack of two folders.
        p.save();
        p.translate(-1.5, -2.5);
        drawFolderBody(p, QColor(0xb0, 0xc4, 0xde), QColor(0xc8, 0xd8, 0xee));
        p.restore();
        p.translate(1.5, 2);
        drawFolderBody(p, QColor(0x6f, 0x9c, 0xd6), QColor(0x9c, 0xbf, 0xea));
        return;
    }
    if (index == 0) {
        drawFolderBody(p, QColor(0xe0, 0xa8, 0x38), QColor(0xf6, 0xc8, 0x5f));
        return;
    }
    drawFolderBody(p, QColor(0xb8, 0xbc, 0xc4), QColor(0xdc, 0xe0, 0xe6));
    drawEmblem(p, index);
}

} // namespace

void FolderImages::paintApplication(QPainter& painter) {
    drawApplication(painter, 0);
}

QIcon FolderImages::application() {
    // Kept for the whole run and never destroyed: pixmaps must not outlive the application
    // object in static destructors.
    static const QIcon* icon = new QIcon(drawnIcon(drawApplication, 0));
    return *icon;
}

QIcon FolderImages::folder(int index) {
    if (index < -1 || index > 6)
        index = 0;
    static QIcon* icons = new QIcon[8];
    QIcon& icon = icons[index + 1];
    if (icon.isNull())
        icon = drawnIcon(drawFolder, index);
    return icon;
}
