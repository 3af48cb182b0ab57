// pixquill_test_worker: the decode worker the tests start in place of the
// programs' own (through a WorkerCommand, or the test build of
// pixquill-batch), so that the shipped programs carry no way to make their
// workers fail. Besides serving as an ordinary worker it stands in for files
// that crash or hang a decoder, on request:
//
// - PIXQUILL_TEST_WORKER_CRASH_ON holds the file name in hand (several names
//   are separated by "/", which no file name contains): the worker leaves an
//   empty temporary file in the destination folder, as an encoder dying
//   mid-save would, and kills itself with SIGSEGV;
// - PIXQUILL_TEST_WORKER_HANG_ON holds it: the worker leaves such a file too
//   and waits for ever, as an encoder stuck mid-save would.
//
// Environment variables, not arguments, so that they reach the workers of a
// pixquill-batch the test starts. Further stand-ins for broken files or
// hostile decoders belong here as well.

#include <csignal>

#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>

#include "codec/MFreeImage_2.h"
#include "engine/DecodeWorker.h"
#include "engine/JobSettings.h"
#include "engine/OptionTables.h"

namespace {

using pixquill::JobSettings;

QStringList NamesFrom(const char* variable)
{
    return qEnvironmentVariable(variable).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

// An empty temporary file in the destination folder, as a save under way
// has (its name carries this process's id, as a real one does). settings is
// null for a probe, which writes nothing.
void LeaveTemporaryFile(const JobSettings* settings)
{
    if (!settings)
        return;
    QFile leftover(pixquill::FolderWithSeparator(settings->DestinationFolder)
                   + pixquill::SaveTemporaryPrefix(QCoreApplication::applicationPid())
                   + QString::number(QRandomGenerator::global()->generate(), 36) + QStringLiteral(".tmp"));
    leftover.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    leftover.close();
}

void MisbehaveIfAskedTo(const QString& name, const JobSettings* settings)
{
    static const QStringList hangOn = NamesFrom("PIXQUILL_TEST_WORKER_HANG_ON");
    if (hangOn.contains(name)) {
        LeaveTemporaryFile(settings);
        for (;;)
            ::pause();
    }
    static const QStringList crashOn = NamesFrom("PIXQUILL_TEST_WORKER_CRASH_ON");
    if (!crashOn.contains(name))
        return;
    LeaveTemporaryFile(settings);
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
    return pixquill::RunDecodeWorker({MisbehaveIfAskedTo});
}
