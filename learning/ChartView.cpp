#include "learning/ChartView.h"

#include <QImageReader>
#include <QPaintEvent>
#include <QPainter>

ChartView::ChartView(QWidget* parent)
    : QWidget(parent), picture(pictureWidth, pictureHeight, QImage::Format_RGB32) {
    picture.fill(Qt::white);
    setFixedSize(pictureWidth, pictureHeight);
}

bool ChartView::load(const QString& path) {
    QImageReader reader(path);
    QImage loaded = reader.read();
    if (loaded.isNull())
        return false;
    // One pixel format whatever the file holds, so drawing and reading back agree.
    picture = loaded.convertToFormat(QImage::Format_RGB32);
    update();
    return true;
}

void ChartView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    painter.drawImage(event->rect().topLeft(), picture, event->rect());
}
