#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// The learning dialog's chart: a picture of 395 x 280 pixels that is drawn on in place
// and shown as it stands.
class ChartView : public QWidget {
    Q_OBJECT
public:
    static constexpr int pictureWidth = 395;
    static constexpr int pictureHeight = 280;

    explicit ChartView(QWidget* parent = nullptr);

    // Replaces the picture with the file's content; false (picture unchanged) when the
    // file cannot be read as an image.
    bool load(const QString& path);
    // The picture to draw on; call update() afterwards to show the change.
    QImage& image() { return picture; }
    const QImage& image() const { return picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture;
};
