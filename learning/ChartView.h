#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QWidget>

#include <vector>

// The learning dialog's chart: a picture of 395 x 280 pixels holding the error curve of one
// run over its iterations. The background picture supplies the frame and the axes; the error
// scale follows the curve (0 to a round number above the highest error seen), so a run whose
// error stays below 1 is not drawn as a flat line at the bottom.
class ChartView : public QWidget {
    Q_OBJECT
public:
    static constexpr int pictureWidth = 395;
    static constexpr int pictureHeight = 280;
    // The plot area within the picture: iteration 0 at left, the last at right; error 0 at
    // bottom, the scale's top at top.
    static constexpr int left = 28;
    static constexpr int right = 388;
    static constexpr int top = 10;
    static constexpr int bottom = 270;

    explicit ChartView(QWidget* parent = nullptr);

    // Replaces the background with the file's content; false (picture unchanged) when the
    // file cannot be read as an image.
    bool load(const QString& path);
    // Forgets the curve and draws the background with the ticks of a run of `iterations`.
    void start(long long iterations);
    // Adds the error of an iteration to the curve, joined to the previous point by a straight
    // line; iterations on a tick are labelled with the error. The scale grows (and the
    // picture is drawn again) when the error passes its top.
    void plot(long long iteration, double error);

    // The picture as drawn; read-only (plot and start draw on it).
    const QImage& image() const { return picture; }

    // Pixel coordinates, truncated toward zero.
    static int x(long long k, long long n);
    int y(double error) const;
    // The top of the error scale (0 before the first point).
    double scaleTop() const { return topError; }
    // A round number at least `value`: 1, 1.5, 2, 2.5, 3, 4, 5, 6 or 8 times a power of ten.
    static double niceCeiling(double value);
    // Iterations between ticks: 100 or more, a round number, at most ten ticks.
    static long long tickStep(long long iterations);
    // Numbers that fit a narrow column: 0.05, 25, 120k, 1.2M.
    static QString shortNumber(double value);
    // Where the labels shown were drawn, in the order they were.
    const std::vector<QRect>& labelPlaces() const { return placed; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // What the curve passes through in one pixel column: enough to draw it again when the
    // scale changes, whatever the number of iterations.
    struct Column {
        int x;
        double first, last, low, high;
    };
    struct Label {
        long long iteration;
        double error;
        bool falling; // below the start: the label hangs below, where the curve leaves room
    };

    // Where the label of a point goes: beside it, inside the plot area, clear of the axes.
    QRect labelRect(QPoint point, const QString& text, bool below) const;

    void render();
    void drawLabel(const Label& label);

    QImage background;
    QImage picture;
    QFont labelFont;
    QFont scaleFont;
    long long iterations = 0;
    double topError = 0;
    std::vector<Column> columns;
    std::vector<Label> labels;
    std::vector<QRect> placed;
};
