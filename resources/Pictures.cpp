#include "Pictures.h"

namespace pixquill {

QString PicturePath(const QString& name)
{
    return QStringLiteral(":/pictures/") + name;
}

QImage LoadPicture(const QString& name)
{
    return QImage(PicturePath(name));
}

QPixmap LoadPixmap(const QString& name)
{
    return QPixmap(PicturePath(name));
}

QCursor HandCursor()
{
    const QPixmap hand = LoadPixmap(QStringLiteral("hand-cursor.png"));
    if (hand.isNull())
        return QCursor(Qt::PointingHandCursor);
    return QCursor(hand, kHandHotSpotX, kHandHotSpotY);
}

QIcon WindowIcon()
{
    QIcon icon;
    icon.addFile(PicturePath(QStringLiteral("pixquill.png")), QSize(32, 32));
    return icon;
}

} // namespace pixquill
