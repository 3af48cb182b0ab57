#include "codec/HandedFiles.h"

#include <algorithm>
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
std::vector<Handed> g_outputs;

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
    HandOverOutputs({HandedOutput{target, fd, error}});
}

void HandOverOutputs(const std::vector<HandedOutput>& outputs)
{
    for (Handed& output : g_outputs)
        output.Replace({}, -1, {});
    g_outputs.assign(outputs.size(), Handed{});
    for (std::size_t i = 0; i < outputs.size(); ++i)
        g_outputs[i].Replace(outputs[i].Target, outputs[i].Fd, outputs[i].Error);
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
    const auto found = std::find_if(g_outputs.begin(), g_outputs.end(),
                                    [&target](const Handed& output) { return output.Name == target; });
    if (found == g_outputs.end() || (found->Fd < 0 && found->Error.isEmpty())) {
        error = QStringLiteral("cannot write in the folder (") + SystemError(EACCES) + QLatin1Char(')');
        return -1;
    }
    if (found->Fd < 0) {
        error = found->Error;
        return -1;
    }
    const int fd = found->Fd;
    found->Fd = -1;
    found->Name.clear();
    return fd;
}

} // namespace pixquill
