#include "learning/ConfusionPicture.h"

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QString>

#include <algorithm>

namespace {

constexpr int cell = 44;
constexpr int margin = 12;

} // namespace

ConfusionPicture::ConfusionPicture(const Evaluation& evaluation,
                                   std::vector<std::string> folderNames)
    : evaluation(evaluation), names(std::move(folderNames)) {}

QImage ConfusionPicture::image() const {
    int count = static_cast<int>(names.size());
    QStringList columns;
    for (const std::string& name : names)
        columns << QString::fromStdString(name);
    columns << QStringLiteral("(no stimulation)");
    QFont font;
    font.setPixelSize(13);
    QFontMetrics metrics(font);
    int labelWidth = 0;
    for (const QString& label : columns)
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(label));
    int left = margin + labelWidth + 8, top = margin + 2 * metrics.height() + labelWidth + 8;
    QString title = QStringLiteral("rows: the message's folder; columns: the net's top folder "
                                   "(accuracy %1)")
                        .arg(evaluation.accuracy, 0, 'f', 3);
    int width = std::max(left + (count + 1) * cell, margin + metrics.horizontalAdvance(title));
    QImage image(width + margin, top + count * cell + margin, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(margin, margin + metrics.ascent(), title);
    for (int c = 0; c <= count; ++c) {
        // Column names upwards, ending just above their column.
        painter.save();
        painter.translate(left + c * cell + cell / 2 + metrics.ascent() / 2, top - 6);
        painter.rotate(-90);
        painter.drawText(0, 0, columns[c]);
        painter.restore();
    }
    for (int r = 0; r < count; ++r) {
        const std::vector<int>& row = evaluation.confusion[static_cast<std::size_t>(r)];
        int total = 0;
        for (int value : row)
            total += value;
        painter.setPen(Qt::black);
        painter.drawText(QRect(margin, top + r * cell, labelWidth, cell),
                         Qt::AlignRight | Qt::AlignVCenter, columns[r]);
        for (int c = 0; c <= count; ++c) {
            int value = row[static_cast<std::size_t>(c)];
            double share = total == 0 ? 0 : static_cast<double>(value) / total;
            QColor shade = QColor::fromRgbF(static_cast<float>(1 - 0.85 * share),
                                            static_cast<float>(1 - 0.6 * share), 1.0f);
            QRect box(left + c * cell, top + r * cell, cell, cell);
            painter.fillRect(box, shade);
            painter.setPen(QColor(200, 200, 200));
            painter.drawRect(box);
            painter.setPen(share > 0.5 ? Qt::white : Qt::black);
            painter.drawText(box, Qt::AlignCenter, QString::number(value));
        }
    }
    painter.end();
    return image;
}

bool ConfusionPicture::save(const std::string& path, std::string* error) const {
    if (!image().save(QString::fromStdString(path), "PNG")) {
        if (error)
            *error = "the picture could not be written";
        return false;
    }
    return true;
}
