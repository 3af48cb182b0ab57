// pixquill_test_worker: the decode worker the tests start in place of the
// programs' own (through a WorkerCommand, or the test build of
// pixquill-batch), so that the shipped programs carry no way to make their
// workers fail. Besides serving as an ordinary worker it stands in for files
// that crash or hang a decoder, on request:
//
// - PIXQUILL_TEST_WORKER_CRASH_ON holds the file name in hand (several names
//   are separated by "/", which no file name contains): the worker writes
//   half a file into the temporary file it was handed, as an encoder dying
//   mid-save would, and kills itself with SIGSEGV;
// - PIXQUILL_TEST_WORKER_HANG_ON holds it: the worker writes such a half too
//   and waits for ever, as an encoder stuck mid-save would;
// - a file named "takeover-WHAT.EXT" stands for a file that took the decoder
//   over: instead of decoding it the worker tries WHAT (read: open the
//   source by its name; write: create a file in the destination folder;
//   socket: open a network socket; exec: start /bin/sh; fork: make a new
//   process; signal: signal the batch; allocate: take 4 GB; stat, access, statx, readlink: look
//   at /etc/passwd by name; emptypath: the same through newfstatat with
//   AT_EMPTY_PATH; fstat: look at a descriptor it holds) and fails the image
//   with what came of it;
// - a file named "lookover-WHAT.EXT", looked at, is decoded, and its picture
//   sent back as a hostile worker might: WHAT is wider (the answer claims a
//   column more than the memory file holds), huge (2^20 x 2^20), negative
//   (a negative width), short (the file holds half the rows), unsealed,
//   writable (sealed against resizing only), disk (the source file on disk in
//   place of a memory file), pipe (a pipe's end) or none (no descriptor).
//
// Environment variables, not arguments, so that they reach the workers of a
// pixquill-batch the test starts. Further stand-ins for broken files or
// hostile decoders belong here as well.

#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStringList>

#include "codec/HandedFiles.h"
#include "codec/MFreeImage_2.h"
#include "engine/DecodeWorker.h"
#include "engine/ImageNames.h"
#include "engine/JobSettings.h"
#include "engine/OptionTables.h"

namespace {

using pixquill::JobSettings;

QStringList NamesFrom(const char* variable)
{
    return qEnvironmentVariable(variable).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// Half a file in the temporary file the worker was handed for the image, as
// a save under way leaves. settings is null for a look, which writes nothing.
void LeaveTemporaryFile(const QString& name, const JobSettings* settings)
{
    if (!settings)
        return;
    QString why;
    const int fd = pixquill::TakeHandedOutput(pixquill::BuildImageNames(name, *settings).OutputPath, why);
    if (fd < 0)
        return;
    const char half[] = "\x89PNG\r\n\x1a\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, half, sizeof half - 1);
    ::close(fd);
}

// What came of an attempt: "WHAT: done", or the system's refusal.
QString Outcome(const char* what, bool done)
{
    return QString::fromLatin1(what) + QStringLiteral(": ")
        + (done ? QStringLiteral("done") : QString::fromLocal8Bit(std::strerror(errno)));
}

QString TakeOver(const QString& name, const JobSettings& settings)
{
    static const QString prefix = QStringLiteral("takeover-");
    if (!name.startsWith(prefix))
        return {};
    const QString what = name.mid(prefix.size()).section(QLatin1Char('.'), 0, 0);
    const pixquill::ImageNames names = pixquill::BuildImageNames(name, settings);
    if (what == QLatin1String("read")) {
        const int fd = ::open(QFile::encodeName(names.SourcePath).constData(), O_RDONLY | O_CLOEXEC);
        return Outcome("open for reading", fd >= 0);
    }
    if (what == QLatin1String("write")) {
        const QByteArray path = QFile::encodeName(pixquill::FolderWithSeparator(settings.DestinationFolder)
                                                  + QStringLiteral("intruder.txt"));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        return Outcome("open for writing", fd >= 0);
    }
    if (what == QLatin1String("socket"))
        return Outcome("socket", ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0) >= 0);
    if (what == QLatin1String("exec")) {
        // Replaces the worker when it works: the batch then sees a crash.
        ::execl("/bin/sh", "sh", "-c", "exit 0", static_cast<char*>(nullptr));
        return Outcome("exec /bin/sh", false);
    }
    if (what == QLatin1String("fork")) {
        const pid_t child = ::fork();
        if (child == 0)
            ::_exit(0);
        if (child > 0)
            ::waitpid(child, nullptr, 0);
        return Outcome("fork", child > 0);
    }
    if (what == QLatin1String("allocate")) {
        // A decoder that needs far more than its header promised: 4 GB,
        // never touched, so that without a limit it costs nothing.
        // Kept in a volatile so that the compiler cannot leave the
        // allocation out; throws std::bad_alloc as a C++ decoder would.
        static void* volatile block = nullptr;
        block = ::operator new(std::size_t{4} << 30);
        ::operator delete(block);
        return Outcome("allocate 4 GB", true);
    }
    if (what == QLatin1String("signal"))
        return Outcome("signal the batch", ::kill(::getppid(), 0) == 0);
    struct stat info {};
    if (what == QLatin1String("stat"))
        return Outcome("stat /etc/passwd", ::stat("/etc/passwd", &info) == 0);
    if (what == QLatin1String("access"))
        return Outcome("access /etc/passwd", ::access("/etc/passwd", F_OK) == 0);
    if (what == QLatin1String("statx")) {
        struct statx extended {};
        return Outcome("statx /etc/passwd", ::statx(AT_FDCWD, "/etc/passwd", 0, STATX_BASIC_STATS, &extended) == 0);
    }
    if (what == QLatin1String("readlink")) {
        char target[256];
        return Outcome("readlink /etc/mtab", ::readlink("/etc/mtab", target, sizeof target) >= 0);
    }
    if (what == QLatin1String("emptypath"))
        return Outcome("newfstatat /etc/passwd with AT_EMPTY_PATH",
                       ::syscall(SYS_newfstatat, AT_FDCWD, "/etc/passwd", &info, AT_EMPTY_PATH) == 0);
    if (what == QLatin1String("fstat"))
        return Outcome("fstat of a descriptor held", ::fstat(STDIN_FILENO, &info) == 0);
    return QStringLiteral("unknown take-over ") + what;
}

// A sealed-as-asked memory file holding rows of picture.
int MemoryFile(const QImage& rows, unsigned seals, bool sealable = true)
{
    const int fd = ::memfd_create("lookover", MFD_CLOEXEC | (sealable ? MFD_ALLOW_SEALING : 0u));
    if (fd < 0)
        return -1;
    const qint64 bytes = qint64(rows.width()) * rows.height() * 4;
    if (rows.bytesPerLine() != rows.width() * 4 || ::write(fd, rows.constBits(), size_t(bytes)) != bytes
        || (seals != 0 && ::fcntl(fd, F_ADD_SEALS, seals) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool TakeOverLook(const QString& path, const QImage& picture, pixquill::SharedPictureHandover& handover)
{
    static const QString prefix = QStringLiteral("lookover-");
    const QString name = QFileInfo(path).fileName();
    if (!name.startsWith(prefix))
        return false;
    const QString what = name.mid(prefix.size()).section(QLatin1Char('.'), 0, 0);
    constexpr unsigned kSealed = F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE;
    handover = {picture.width(), picture.height(), -1};
    if (what == QLatin1String("wider")) {
        handover.Width += 1;
        handover.Fd = MemoryFile(picture, kSealed);
    } else if (what == QLatin1String("huge")) {
        handover = {1 << 20, 1 << 20, MemoryFile(picture, kSealed)};
    } else if (what == QLatin1String("negative")) {
        handover.Width = -handover.Width;
        handover.Fd = MemoryFile(picture, kSealed);
    } else if (what == QLatin1String("short")) {
        handover.Fd = MemoryFile(picture.copy(0, 0, picture.width(), picture.height() / 2), kSealed);
    } else if (what == QLatin1String("unsealed")) {
        handover.Fd = MemoryFile(picture, 0, false);
    } else if (what == QLatin1String("writable")) {
        handover.Fd = MemoryFile(picture, F_SEAL_SHRINK | F_SEAL_GROW);
    } else if (what == QLatin1String("disk")) {
        QString why;
        handover.Fd = pixquill::OpenHandedSource(QFile::encodeName(path), why);
    } else if (what == QLatin1String("pipe")) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) == 0) {
            ::close(ends[1]);
            handover.Fd = ends[0];
        }
    }
    return true;
}

void MisbehaveIfAskedTo(const QString& name, const JobSettings* settings)
{
    static const QStringList hangOn = NamesFrom("PIXQUILL_TEST_WORKER_HANG_ON");
    if (hangOn.contains(name)) {
        LeaveTemporaryFile(name, settings);
        for (;;)
            ::pause();
    }
    static const QStringList crashOn = NamesFrom("PIXQUILL_TEST_WORKER_CRASH_ON");
    if (!crashOn.contains(name))
        return;
    LeaveTemporaryFile(name, settings);
    // The default action, not a sanitizer's handler: die as a real crash does.
    std::signal(SIGSEGV, SIG_DFL);
    std::raise(SIGSEGV);
}

} // namespace

int main(int argc, char* argv[])
{
    // As in the programs' own workers: a write past a file-size limit fails
    // instead of killing the worker.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    return pixquill::RunDecodeWorker({MisbehaveIfAskedTo, TakeOver, TakeOverLook});
}
