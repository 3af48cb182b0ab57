#pragma once

#include <QByteArray>
#include <QImage>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace pixquill::test {

// A temporary root with a source folder ("in", made) and a destination
// ("out", left for the run to create).
struct Folders {
    QTemporaryDir Root;
    QString Source = Root.filePath("in");
    QString Destination = Root.filePath("out");

    Folders();
    // Saves the image into the source folder (format: from the name's extension when null).
    void Draw(const QString& name, const QImage& image, const char* format = nullptr) const;
    // A source file that is no image at all.
    void Garbage(const QString& name) const;
    // The ordinary files of folder (default: the destination), by name.
    QStringList Written(const QString& folder = {}) const;
};

// Every entry of a folder by name, with a fingerprint that changes when it
// does: a file's SHA-256, a link's target, "special" for the rest.
QMap<QString, QByteArray> Snapshot(const QString& folder);

} // namespace pixquill::test
