// Opens the full-screen view on a drawn picture so a person (or a screenshot)
// can see it: pixquill_display_look large|small [seconds] [end]
// With "end" both scroll bars are moved to their far end after opening.
#include <QApplication>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include "ui/display/ImageAceX.h"
#include "ui/display/fFullScale.h"

namespace {

QImage DrawPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgb(40 + (x * 200) / width, 40 + (y * 200) / height, 160);
    }
    QPainter painter(&image);
    painter.setPen(QPen(QColor(255, 255, 255, 120), 1));
    for (int x = 0; x < width; x += 100)
        painter.drawLine(x, 0, x, height - 1);
    for (int y = 0; y < height; y += 100)
        painter.drawLine(0, y, width - 1, y);
    // A frame on the outermost pixels shows whether any edge is cut off.
    painter.setPen(QPen(Qt::yellow, 1));
    painter.drawRect(0, 0, width - 1, height - 1);
    painter.setPen(Qt::white);
    QFont font(QStringLiteral("Sans"));
    font.setPixelSize(std::max(12, height / 20));
    painter.setFont(font);
    painter.drawText(QRect(0, 0, width, height), Qt::AlignCenter,
                     QStringLiteral("%1 x %2").arg(width).arg(height));
    painter.drawText(QRect(8, 8, width - 16, height - 16), Qt::AlignLeft | Qt::AlignTop,
                     QStringLiteral("top left"));
    painter.drawText(QRect(8, 8, width - 16, height - 16), Qt::AlignRight | Qt::AlignBottom,
                     QStringLiteral("bottom right"));
    painter.setBrush(QColor(220, 60, 60));
    painter.drawEllipse(QPoint(width / 2, height / 2 + height / 8), height / 12, height / 12);
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const bool large = argc < 2 || QString::fromLocal8Bit(argv[1]) != QLatin1String("small");
    const int seconds = argc >= 3 ? QString::fromLocal8Bit(argv[2]).toInt() : 5;
    const QImage picture = large ? DrawPicture(2400, 1600) : DrawPicture(300, 200);

    // A plain owner window behind the view, as the main window would be.
    QWidget owner;
    owner.setWindowTitle(QStringLiteral("owner"));
    owner.resize(400, 300);
    owner.show();
    pixquill::fFullScale* view = pixquill::fFullScale::ShowPicture(&owner, picture);
    if (view && argc >= 4 && QString::fromLocal8Bit(argv[3]) == QLatin1String("end")) {
        QTimer::singleShot(500, view, [view] {
            QScrollBar* h = view->imView()->hSB();
            QScrollBar* v = view->imView()->vSB();
            h->setValue(h->maximum());
            v->setValue(v->maximum());
        });
    }

    // Keys reach the view through whichever widget holds the focus.
    QTimer::singleShot(1000, &app, [] {
        const QWidget* focus = QApplication::focusWidget();
        qInfo("focus: %s", focus ? qPrintable(focus->objectName()) : "none");
    });
    QTimer::singleShot(seconds * 1000, &app, &QApplication::quit);
    return app.exec();
}
