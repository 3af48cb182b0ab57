// Shows the picture button and the progress bar as a person sees them:
// three buttons (normal, hover, down) with drawn faces, a live button, and
// progress bars with the main window's settings at a few values.
// Usage: pixquill_widgets_gallery [milliseconds before quitting]

#include <cstdint>

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include "ui/widgets/PictureButton.h"
#include "ui/widgets/Rv_Progbar.h"

using namespace pixquill;

namespace {

QImage DrawFace(const QColor& fill, const QColor& text, int shift)
{
    QImage image(123, 31, QImage::Format_RGB32);
    image.fill(QColor(40, 48, 64));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(text, 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(1.5, 1.5, 120, 28), 8, 8);
    painter.setFont(QFont(QStringLiteral("Verdana"), 9, QFont::Bold));
    painter.drawText(QRect(shift, shift, 123, 31), Qt::AlignCenter, QStringLiteral("Start"));
    return image;
}

PictureButton* MakeButton(QWidget* parent)
{
    auto* button = new PictureButton(parent);
    button->SetPicture(DrawFace(QColor(70, 110, 160), Qt::white, 0));
    button->SetPictureHover(DrawFace(QColor(90, 150, 210), QColor(255, 240, 160), 0));
    button->SetPictureDown(DrawFace(QColor(40, 70, 110), Qt::white, 1));
    return button;
}

Rv_Progbar* MakeBar(QWidget* parent, int value, int barOffset)
{
    auto* bar = new Rv_Progbar(parent);
    bar->InitProperties();
    bar->setFixedSize(294, 15);
    bar->SetBackColor(0x00C0A080);
    bar->SetBarcolor(0x00C08B0E);
    bar->SetBarstyle(5);
    bar->SetBorderStyle(3);
    bar->SetBarOffset(barOffset);
    // Assigned once the window is up, as the batch run does.
    QTimer::singleShot(100, bar, [bar, value] { bar->Setvalue(value); });
    return bar;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Widgets"));
    auto* grid = new QGridLayout(&window);
    grid->setHorizontalSpacing(16);

    const char* states[] = {"normal", "hover", "down"};
    for (int state = 0; state < 3; ++state) {
        auto* button = MakeButton(&window);
        // Held in one state whatever the real pointer does.
        button->SetPointerTest([state] { return state != 0; });
        grid->addWidget(new QLabel(QString::fromLatin1(states[state]), &window), 0, state);
        grid->addWidget(button, 1, state, Qt::AlignLeft);
        if (state == 1) {
            QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(button, &move);
        } else if (state == 2) {
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(button, &press);
        }
    }
    grid->addWidget(new QLabel(QStringLiteral("live"), &window), 0, 3);
    grid->addWidget(MakeButton(&window), 1, 3, Qt::AlignLeft);

    int row = 2;
    const struct { int value; int offset; } bars[] = {{0, 0}, {30, 0}, {75, 0}, {100, 0}, {130, 0}, {60, 1}, {100, 1}};
    for (const auto& b : bars) {
        const QString caption = QStringLiteral("value %1%2").arg(b.value).arg(b.offset ? QStringLiteral(", offset 1") : QString());
        grid->addWidget(new QLabel(caption, &window), row, 0);
        grid->addWidget(MakeBar(&window, b.value, b.offset), row, 1, 1, 3, Qt::AlignLeft);
        ++row;
    }

    window.move(20, 20);
    window.show();
    if (argc > 1)
        QTimer::singleShot(QString::fromLocal8Bit(argv[1]).toInt(), &app, &QApplication::quit);
    return app.exec();
}
