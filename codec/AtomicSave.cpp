#include "codec/AtomicSave.h"

#include <cerrno>
#include <cstdio>
#include <utility>

#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>
#include <QRegularExpression>

#include "codec/HandedFiles.h"
#include "codec/SystemError.h"

namespace pixquill {

AtomicSave::AtomicSave(const QString& target)
    : m_path(target), m_target(target)
{
}

AtomicSave::~AtomicSave()
{
    Discard();
}

bool AtomicSave::Begin(const QString& prefix, QString& why)
{
    if (FilesAreHandedOver()) {
        const int fd = TakeHandedOutput(m_path, why);
        if (fd < 0)
            return false;
        m_handed = m_temporary.open(fd, QIODevice::ReadWrite, QFileDevice::AutoCloseHandle);
        if (!m_handed) {
            ::close(fd);
            why = QStringLiteral("cannot write in the folder (") + m_temporary.errorString() + QLatin1Char(')');
        }
        return m_handed;
    }
    const QByteArray to = QFile::encodeName(m_target.absoluteFilePath());
    if (m_target.exists() && !m_target.isDir() && ::access(to.constData(), W_OK) != 0) {
        why = QStringLiteral("the existing file is read-only (") + SystemError(errno) + QLatin1Char(')');
        return false;
    }
    // Hidden (leading dot in the prefix) so that file lists do not show it
    // while it is written; a name nobody uses.
    const QString folder = m_target.absolutePath();
    for (int attempt = 0; attempt < 32; ++attempt) {
        const QString name = folder + QLatin1Char('/') + prefix
            + QString::number(QRandomGenerator::global()->generate64(), 36) + QStringLiteral(".tmp");
        m_temporary.setFileName(name);
        if (m_temporary.open(QIODevice::ReadWrite | QIODevice::NewOnly)) {
            // Held until the rename: a later run's clean-up leaves the file be.
            ::flock(m_temporary.handle(), LOCK_EX | LOCK_NB);
            if (m_target.exists())
                m_temporary.setPermissions(m_target.permissions());
            return true;
        }
        if (QFileInfo::exists(name))
            continue; // name taken: try another
        break; // the folder refuses new files
    }
    why = QStringLiteral("cannot write in the folder (") + m_temporary.errorString() + QLatin1Char(')');
    m_temporary.setFileName(QString());
    return false;
}

PendingRename AtomicSave::Keep(QString& why)
{
    const int lockFd = m_handed || !m_temporary.isOpen() ? -1 : ::fcntl(m_temporary.handle(), F_DUPFD_CLOEXEC, 0);
    m_temporary.close();
    if (m_temporary.error() != QFileDevice::NoError || m_handed || m_temporary.fileName().isEmpty()) {
        why = QStringLiteral("cannot write the file (") + m_temporary.errorString() + QLatin1Char(')');
        Discard();
        if (lockFd >= 0)
            ::close(lockFd);
        return {};
    }
    PendingRename pending(m_temporary.fileName(), m_target.absoluteFilePath(), lockFd);
    m_temporary.setFileName(QString()); // the pending rename owns it now
    return pending;
}

bool AtomicSave::Commit(QString& why)
{
    if (m_handed) {
        m_temporary.close();
        const bool written = m_temporary.error() == QFileDevice::NoError;
        if (!written)
            why = QStringLiteral("cannot write the file (") + m_temporary.errorString() + QLatin1Char(')');
        Discard();
        return written; // the batch renames it
    }
    PendingRename pending = Keep(why);
    return pending.IsSet() && pending.Commit(why);
}

PendingRename::PendingRename(QString temporary, QString target, int lockFd)
    : m_temporary(std::move(temporary)), m_target(std::move(target)), m_lockFd(lockFd)
{
}

PendingRename::~PendingRename()
{
    Discard();
}

PendingRename::PendingRename(PendingRename&& other) noexcept
    : m_temporary(std::exchange(other.m_temporary, QString()))
    , m_target(std::move(other.m_target))
    , m_lockFd(std::exchange(other.m_lockFd, -1))
{
}

PendingRename& PendingRename::operator=(PendingRename&& other) noexcept
{
    if (this != &other) {
        Discard();
        m_temporary = std::exchange(other.m_temporary, QString());
        m_target = std::move(other.m_target);
        m_lockFd = std::exchange(other.m_lockFd, -1);
    }
    return *this;
}

bool PendingRename::Commit(QString& why)
{
    if (!IsSet()) {
        why = QStringLiteral("cannot write the file");
        return false;
    }
    // POSIX rename replaces an existing target in one step; a folder of that
    // name or a name too long for the folder is refused here.
    const QByteArray from = QFile::encodeName(m_temporary);
    const QByteArray to = QFile::encodeName(m_target);
    if (std::rename(from.constData(), to.constData()) != 0) {
        why = QStringLiteral("cannot write the file (") + SystemError(errno) + QLatin1Char(')');
        Discard();
        return false;
    }
    m_temporary.clear(); // in place: nothing left to remove
    Unlock();
    return true;
}

void PendingRename::Unlock()
{
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    m_lockFd = -1;
}

void PendingRename::Discard()
{
    if (m_temporary.isEmpty())
        return;
    QFile::remove(m_temporary);
    m_temporary.clear();
    Unlock();
}

void AtomicSave::Discard()
{
    if (m_handed) {
        m_temporary.close();
        m_handed = false;
        return;
    }
    if (m_temporary.fileName().isEmpty())
        return;
    m_temporary.close();
    m_temporary.remove();
    m_temporary.setFileName(QString());
}

int RemoveStaleTemporaries(const QString& folder)
{
    static const QRegularExpression pattern(QStringLiteral("^\\.pixquill-(\\d{1,9})-[0-9a-z]+\\.tmp$"));
    const QDir dir(folder);
    int removed = 0;
    for (const QString& name :
         dir.entryList({QStringLiteral(".pixquill-*.tmp")}, QDir::Files | QDir::Hidden | QDir::System)) {
        const QRegularExpressionMatch match = pattern.match(name);
        if (!match.hasMatch())
            continue;
        const pid_t pid = match.captured(1).toInt();
        if (pid == QCoreApplication::applicationPid() || pid <= 0 || ::kill(pid, 0) == 0 || errno == EPERM)
            continue; // its process is still here
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        const int fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A lock held means a save under way, by a process of another machine.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.constData()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

} // namespace pixquill
