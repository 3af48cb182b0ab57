#include "tests/support/Folders.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include "tests/support/TestImages.h"

namespace pixquill::test {

Folders::Folders()
{
    EXPECT_TRUE(Root.isValid());
    EXPECT_TRUE(QDir().mkdir(Source));
}

void Folders::Draw(const QString& name, const QImage& image, const char* format) const
{
    ASSERT_TRUE(image.save(Source + "/" + name, format)) << name.toStdString();
}

void Folders::Garbage(const QString& name) const
{
    QFile file(Source + "/" + name);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
    file.write("this is not an image at all");
}

QStringList Folders::Written(const QString& folder) const
{
    return QDir(folder.isEmpty() ? Destination : folder).entryList(QDir::Files, QDir::Name);
}

QMap<QString, QByteArray> Snapshot(const QString& folder)
{
    QMap<QString, QByteArray> entries;
    for (const QFileInfo& info :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QByteArray print = info.isSymLink() ? "link:" + info.symLinkTarget().toUtf8()
            : info.isFile() ? QCryptographicHash::hash(ReadFileBytes(info.filePath()), QCryptographicHash::Sha256)
                            : QByteArray("special");
        entries.insert(info.fileName(), print);
    }
    return entries;
}

} // namespace pixquill::test
