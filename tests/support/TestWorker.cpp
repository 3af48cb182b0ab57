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
//   process; signal: signal the batch) and fails the image with what came of
//   it.
//
// Environment variables, not arguments, so that they reach the workers of a
// pixquill-batch the test starts. Further stand-ins for broken files or
// hostile decoders belong here as well.

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
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
// a save under way leaves. settings is null for a probe, which writes nothing.
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
    if (what == QLatin1String("signal"))
        return Outcome("signal the batch", ::kill(::getppid(), 0) == 0);
    return QStringLiteral("unknown take-over ") + what;
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
    return pixquill::RunDecodeWorker({MisbehaveIfAskedTo, TakeOver});
}
