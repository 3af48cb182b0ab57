#include "codec/HandedFiles.h"

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include <QFile>

#include "codec/SystemError.h"

namespace pixquill {

namespace {

struct Handed {
    QString Name;
    int Fd = -1;
    QString Error;

    void Replace(QString name, int fd, QString error)
    {
        if (Fd >= 0)
            ::close(Fd);
        Name = std::move(name);
        Fd = fd;
        Error = std::move(error);
    }
};

bool g_handedOver = false;
Handed g_source;
Handed g_output;

// What an open by name meets in the sandbox, for a file the batch did not
// hand over (a library looking for a file of its own, say).
QString NotHandedOver()
{
    return QStringLiteral("file cannot be read (") + SystemError(EACCES) + QLatin1Char(')');
}

} // namespace

void HandFilesOver()
{
    g_handedOver = true;
}

bool FilesAreHandedOver()
{
    return g_handedOver;
}

void HandOverSource(const QByteArray& path, int fd, const QString& error)
{
    g_source.Replace(QFile::decodeName(path), fd, error);
}

void HandOverOutput(const QString& target, int fd, const QString& error)
{
    g_output.Replace(target, fd, error);
}

int OpenHandedSource(const QByteArray& path, QString& error)
{
    if (g_source.Name != QFile::decodeName(path)) {
        error = NotHandedOver();
        return -1;
    }
    if (g_source.Fd < 0) {
        error = g_source.Error.isEmpty() ? NotHandedOver() : g_source.Error;
        return -1;
    }
    // Every reader of the file closes its own copy; reads are positioned
    // (pread), so the copies share nothing that matters.
    const int fd = ::fcntl(g_source.Fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        error = QStringLiteral("file cannot be read (") + SystemError(errno) + QLatin1Char(')');
    return fd;
}

int TakeHandedOutput(const QString& target, QString& error)
{
    if (g_output.Name != target || (g_output.Fd < 0 && g_output.Error.isEmpty())) {
        error = QStringLiteral("cannot write in the folder (") + SystemError(EACCES) + QLatin1Char(')');
        return -1;
    }
    if (g_output.Fd < 0) {
        error = g_output.Error;
        return -1;
    }
    const int fd = g_output.Fd;
    g_output.Fd = -1;
    g_output.Name.clear();
    return fd;
}

} // namespace pixquill
