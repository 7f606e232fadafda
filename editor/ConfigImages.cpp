#include "editor/ConfigImages.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

struct Glyph {
    QColor colour;
    const char* text;
};

QPixmap badge(int size, const Glyph& glyph, bool round) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QRectF box(1, 1, size - 2, size - 2);
    painter.setPen(glyph.colour.darker(150));
    painter.setBrush(glyph.colour);
    if (round)
        painter.drawEllipse(box);
    else
        painter.drawRoundedRect(box, size / 6.0, size / 6.0);
    QFont font = painter.font();
    font.setPixelSize(size * 2 / 3);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, QString::fromUtf8(glyph.text));
    return pixmap;
}

QPixmap folderPicture(const QColor& colour, bool marked) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colour.darker(160));
    painter.setBrush(colour);
    QPainterPath path;
    path.moveTo(1, 4);
    path.lineTo(6, 4);
    path.lineTo(7, 5.5);
    path.lineTo(15, 5.5);
    path.lineTo(15, 14);
    path.lineTo(1, 14);
    path.closeSubpath();
    painter.drawPath(path);
    if (marked) {
        painter.setPen(QPen(QColor(200, 0, 0), 2));
        painter.drawLine(QPointF(4, 9.5), QPointF(7, 12));
        painter.drawLine(QPointF(7, 12), QPointF(12, 7));
    }
    return pixmap;
}

QPixmap envelope(const QColor& colour) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(colour.darker(170));
    painter.setBrush(colour);
    painter.drawRect(QRectF(1.5, 3.5, 13, 9));
    painter.drawLine(QPointF(1.5, 3.5), QPointF(8, 9));
    painter.drawLine(QPointF(8, 9), QPointF(14.5, 3.5));
    return pixmap;
}

} // namespace

QIcon ConfigImages::neuron(int index) {
    switch (index) {
    case 0:
        return QIcon(folderPicture(QColor(150, 150, 160), false));
    case 1:
        return QIcon(badge(16, {QColor(40, 100, 200), "S"}, true));
    case 2:
        return QIcon(badge(16, {QColor(60, 150, 70), "*"}, false));
    case 3:
        return QIcon(folderPicture(QColor(240, 200, 80), false));
    case 4:
        return QIcon(folderPicture(QColor(240, 200, 80), true));
    case 5:
        return QIcon(envelope(QColor(140, 210, 140)));
    case 6:
        return QIcon(envelope(QColor(220, 220, 220)));
    default:
        return {};
    }
}

namespace {

// What each command is called in the freedesktop icon naming: learn, test, add, edit,
// delete a stimulation, the same for a folder, save, add an expression, assign, choose
// the learning folder, expand, expand all, collapse, collapse all.
const char* const themeNames[] = {
    "system-run",    "edit-find",   "list-add",      "document-edit", "edit-delete", "list-add",
    "document-edit", "edit-delete", "document-save", "insert-text",   "dialog-ok",   "folder-open",
    "go-down",       "go-bottom",   "go-next",       "go-top",
};

} // namespace

QString ConfigImages::actionThemeName(int index) {
    if (index < 0 || index >= static_cast<int>(std::size(themeNames)))
        return {};
    return QString::fromLatin1(themeNames[index]);
}

QIcon ConfigImages::action(int index) {
    QIcon drawn = drawnAction(index);
    if (drawn.isNull())
        return drawn;
    return QIcon::fromTheme(actionThemeName(index), drawn);
}

QIcon ConfigImages::drawnAction(int index) {
    static const Glyph glyphs[] = {
        {QColor(200, 120, 20), "L"},     {QColor(120, 60, 170), "T"},
        {QColor(40, 100, 200), "+"},     {QColor(40, 100, 200), "E"},
        {QColor(190, 40, 40), "\u00d7"}, {QColor(200, 160, 30), "+"},
        {QColor(200, 160, 30), "E"},     {QColor(190, 40, 40), "\u00d7"},
        {QColor(60, 120, 60), "S"},      {QColor(60, 150, 70), "+"},
        {QColor(200, 80, 20), "\u2713"}, {QColor(90, 90, 160), "F"},
        {QColor(90, 90, 90), "\u25be"},  {QColor(90, 90, 90), "\u21a7"},
        {QColor(90, 90, 90), "\u25b8"},  {QColor(90, 90, 90), "\u21a5"},
    };
    if (index < 0 || index >= static_cast<int>(std::size(glyphs)))
        return {};
    return QIcon(badge(24, glyphs[index], false));
}
