#include "learning/ChartView.h"

#include <QFontMetrics>
#include <QImageReader>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

// The background picture's text colour and grid colour, for the scale drawn over it.
const QColor scaleText(96, 96, 104);
const QColor scaleGrid(218, 222, 230);

// Mantissas of the scale's top, each with the number of grid steps that makes a round step.
struct Round {
    double mantissa;
    int steps;
};
constexpr Round rounds[] = {{1, 5}, {1.5, 3}, {2, 4}, {2.5, 5}, {3, 3},
                            {4, 4}, {5, 5},   {6, 3}, {8, 4},   {10, 5}};

const Round& roundOf(double top) {
    double power = std::pow(10.0, std::floor(std::log10(top)));
    for (const Round& round : rounds)
        if (top <= round.mantissa * power * (1 + 1e-9))
            return round;
    return rounds[std::size(rounds) - 1];
}

} // namespace

ChartView::ChartView(QWidget* parent)
    : QWidget(parent), background(pictureWidth, pictureHeight, QImage::Format_RGB32) {
    background.fill(Qt::white);
    picture = background;
    setFixedSize(pictureWidth, pictureHeight);
    // Arial, 10 pixels, bold; drawn turned by 90 degrees so it runs upwards.
    labelFont = QFont("Arial");
    labelFont.setPixelSize(10);
    labelFont.setWeight(QFont::Bold);
    scaleFont = QFont("Arial");
    scaleFont.setPixelSize(9);
}

bool ChartView::load(const QString& path) {
    QImageReader reader(path);
    QImage loaded = reader.read();
    if (loaded.isNull())
        return false;
    // One pixel format whatever the file holds, so drawing and reading back agree.
    background = loaded.convertToFormat(QImage::Format_RGB32);
    picture = background;
    update();
    return true;
}

void ChartView::start(long long count) {
    iterations = count;
    topError = 0;
    columns.clear();
    labels.clear();
    render();
}

int ChartView::x(long long k, long long n) {
    if (n <= 0)
        return left;
    // In double: 360 * k overflows 64 bits for no count, but stays exact up to 2^53.
    return static_cast<int>(
        static_cast<double>(right - left) * static_cast<double>(k) / static_cast<double>(n) + left);
}

int ChartView::y(double error) const {
    double scale = topError > 0 ? topError : 1;
    double value = bottom - (bottom - top) * error / scale;
    if (!(value > -1e6))
        return -1000000;
    return static_cast<int>(std::min(value, 1e6));
}

double ChartView::niceCeiling(double value) {
    if (!(value > 0) || !std::isfinite(value))
        return 1;
    double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const Round& round : rounds)
        if (value <= round.mantissa * power * (1 + 1e-9))
            return round.mantissa * power;
    return 10 * power;
}

long long ChartView::tickStep(long long count) {
    constexpr long long factors[] = {1, 2, 25, 5}; // 100, 200, 250, 500, 1000, ...
    long long power = 100;
    for (;;) {
        for (long long factor : factors) {
            long long step = factor == 25 ? power * 5 / 2 : power * factor;
            if (count / step <= 10)
                return step;
        }
        power *= 10;
    }
}

QString ChartView::shortNumber(double value) {
    double size = std::fabs(value);
    if (size >= 1e6)
        return QString::number(value / 1e6, 'g', 3) + "M";
    if (size >= 1e4)
        return QString::number(value / 1e3, 'g', 3) + "k";
    return QString::number(value, 'g', 4);
}

QRect ChartView::labelRect(QPoint point, const QString& text, bool below) const {
    QFontMetrics metrics(labelFont);
    // Turned a quarter to the left: as wide as a line is high, as high as the text is long.
    int width = metrics.height();
    int height = metrics.horizontalAdvance(text);
    // Left of the point, unless that would cross the error axis.
    int x0 = point.x() - 2 - width;
    if (x0 <= left + 1)
        x0 = point.x() + 2;
    x0 = std::min(x0, pictureWidth - width);
    // Rising from the point, or hanging below it where the curve came from above or the
    // top is near; kept below the picture's top and above the ticks.
    int bottomEdge = point.y();
    if (below || point.y() - height < 0)
        bottomEdge = point.y() + 4 + height;
    bottomEdge = std::clamp(bottomEdge, height, bottom - 6);
    return QRect(x0, bottomEdge - height, width, height);
}

void ChartView::plot(long long iteration, double error) {
    QPoint point(x(iteration, iterations), y(error));
    bool hadPoint = !columns.empty();
    QPoint previous = hadPoint ? QPoint(columns.back().x, y(columns.back().last)) : QPoint();
    // Against the curve's start, not the last step: noise would toss labels up and down.
    bool falling = hadPoint && error < columns.front().first;
    if (hadPoint && columns.back().x == point.x()) {
        Column& column = columns.back();
        column.last = error;
        column.low = std::min(column.low, error);
        column.high = std::max(column.high, error);
    } else {
        columns.push_back({point.x(), error, error, error, error});
    }
    bool labelled = iteration % tickStep(iterations) == 0;
    if (labelled)
        labels.push_back({iteration, error, falling});
    if (error > topError || !hadPoint) {
        topError = std::max(topError, niceCeiling(error));
        render();
        return;
    }
    QPainter painter(&picture);
    painter.setPen(Qt::red);
    painter.drawLine(previous, point);
    painter.end();
    if (labelled)
        drawLabel(labels.back());
    update();
}

void ChartView::drawLabel(const Label& label) {
    QPoint point(x(label.iteration, iterations), y(label.error));
    QString text = QString::asprintf("%.03f", label.error);
    QRect place = labelRect(point, text, label.falling);
    placed.push_back(place);
    QPainter painter(&picture);
    painter.setPen(Qt::black);
    painter.setFont(labelFont);
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.translate(place.left(), place.bottom() + 1);
    painter.rotate(-90);
    painter.drawText(QPoint(0, QFontMetrics(labelFont).ascent()), text);
}

void ChartView::render() {
    picture = background.copy();
    placed.clear();
    QPainter painter(&picture);
    painter.setPen(Qt::black);
    if (iterations > 0) {
        long long step = tickStep(iterations);
        for (long long k = step; k <= iterations; k += step) {
            int at = x(k, iterations);
            painter.drawLine(at, 266, at, 274);
        }
    }
    if (topError > 0) {
        const Round& round = roundOf(topError);
        painter.setFont(scaleFont);
        QFontMetrics metrics(scaleFont);
        for (int i = 0; i <= round.steps; ++i) {
            double value = topError * i / round.steps;
            int at = y(value);
            painter.setPen(scaleGrid);
            if (i > 0)
                for (int dot = left + 1; dot <= right; dot += 2)
                    painter.drawPoint(dot, at);
            painter.setPen(scaleText);
            painter.drawLine(left - 3, at, left - 1, at);
            QRect room(0, at - metrics.height() / 2, left - 4, metrics.height());
            painter.drawText(room, Qt::AlignRight | Qt::AlignVCenter, shortNumber(value));
        }
        painter.setPen(Qt::red);
        const Column* before = nullptr;
        for (const Column& column : columns) {
            if (before)
                painter.drawLine(before->x, y(before->last), column.x, y(column.first));
            if (y(column.low) != y(column.high))
                painter.drawLine(column.x, y(column.low), column.x, y(column.high));
            before = &column;
        }
    }
    painter.end();
    for (const Label& label : labels)
        drawLabel(label);
    update();
}

void ChartView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), palette().window());
    painter.drawImage(event->rect().topLeft(), picture, event->rect());
}
