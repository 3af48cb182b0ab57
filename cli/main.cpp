// pixquill-batch: the thumbnail engine on the command line, for scripts and
// servers. Same engine and same output files as the window's batch.

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>

#include "cli/DecodeWorkerProgram.h"
#include "cli/JsonLinesReport.h"
#include "cli/Options.h"
#include "engine/BatchEngine.h"
#include "engine/BatchRules.h"
#include "engine/DecodeWorker.h"
#include "engine/ImageNames.h"
#include "engine/OutputSizes.h"
#include "engine/WorkerSandbox.h"

using namespace pixquill;

namespace {

constexpr int kExitAllWritten = 0;
constexpr int kExitSomeNotWritten = 1;
constexpr int kExitUsage = 2;
// A run ended by a signal exits with 128 + the signal's number, as a shell
// reports a command the signal killed: 130 for SIGINT, 143 for SIGTERM.
constexpr int kExitSignalBase = 128;

// Set by the signal handler only; lock-free, so safe to touch there. The
// first SIGINT or SIGTERM asks the batch to finish the images in hand, the
// second to end at once.
std::atomic<bool> g_stop{false};
std::atomic<bool> g_stopNow{false};
std::atomic<int> g_signal{0};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

extern "C" void OnStopSignal(int signal)
{
    if (g_stop.exchange(true)) {
        g_stopNow = true;
    } else {
        g_signal = signal;
    }
}

void CatchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void PrintLine(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fprintf(stream, "%s\n", bytes.constData());
    std::fflush(stream);
}

// Qt's own warnings (a picture it could not allocate, say) are not lines of
// ours: the image they concern is reported with its reason anyway.
void DropQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg) {
        PrintLine(stderr, QStringLiteral("pixquill-batch: ") + message);
        std::abort();
    }
}

int UsageError(const QString& message)
{
    PrintLine(stderr, QStringLiteral("pixquill-batch: %1 (see --help)").arg(message));
    return kExitUsage;
}

// How the decode workers are locked down here, as one of them tells it: what
// the kernel offers is not enough, since whatever runs this program (a
// container, a thumbnail service's bubblewrap) may refuse a layer.
QString DescribeWorkersSandbox()
{
    constexpr int kAnswerMs = 10000;
    WorkerProcess worker(DecodeWorkerProgram(), WorkerJob{});
    const std::optional<SandboxState> state = worker.AskSandbox(kAnswerMs);
    return state ? DescribeSandbox(*state)
                 : QStringLiteral("decode workers: not known (%1)").arg(QLatin1String(kDecoderNotStarted));
}

// The command line read and checked; --help and --version end the program
// here.
Outcome<BatchOptions> ParseCommandLine()
{
    QCommandLineParser parser;
    DescribeOptions(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        return Failure{error};
    }
    if (parser.isSet("help"))
        parser.showHelp(kExitAllWritten);
    if (parser.isSet("version")) {
        PrintLine(stdout, QCoreApplication::applicationName() + QLatin1Char(' ')
                              + QCoreApplication::applicationVersion());
        PrintLine(stdout, DescribeWorkersSandbox());
        std::exit(kExitAllWritten);
    }
    return ReadOptions(parser);
}

// One line that keeps being rewritten on a terminal; plain lines otherwise.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool quiet) : m_quiet(quiet), m_terminal(isatty(STDERR_FILENO) == 1) {}

    void Show(int done, int total)
    {
        if (m_quiet)
            return;
        const QByteArray text = QStringLiteral("Processing %1 of %2").arg(done).arg(total).toLocal8Bit();
        if (m_terminal) {
            std::fprintf(stderr, "\r\033[K%s", text.constData());
            m_lineOpen = true;
        } else {
            std::fprintf(stderr, "%s\n", text.constData());
        }
        std::fflush(stderr);
    }

    void Failure(const ImageResult& result)
    {
        EndLine();
        PrintLine(stderr, result.Name + QStringLiteral(": ") + result.Reason);
    }

    void Line(const QString& line)
    {
        EndLine();
        PrintLine(stderr, line);
    }

    void Warning(const ImageResult& result)
    {
        EndLine();
        PrintLine(stderr, result.Name + QStringLiteral(": written, but ") + result.Warning);
    }

    void EndLine()
    {
        if (m_lineOpen) {
            std::fputs("\r\033[K", stderr);
            m_lineOpen = false;
        }
    }

private:
    bool m_quiet;
    bool m_terminal;
    bool m_lineOpen = false;
};

// What the listing of SOURCE left out, before the first image: DEST's own
// folder (said once), and each folder that could not be read, with why.
void ReportListing(const BatchOptions& options)
{
    const QString source = TrimSetting(options.Settings.SourceFolder);
    if (options.DestinationLeftOut)
        PrintLine(stderr, QStringLiteral("pixquill-batch: DEST \"%1\" lies inside SOURCE: its folder is left out")
                              .arg(TrimSetting(options.Settings.DestinationFolder)));
    for (const UnreadFolder& folder : options.UnreadFolders) {
        const QString path = folder.Folder.isEmpty() ? source : FolderWithSeparator(source) + folder.Folder;
        PrintLine(stderr, QStringLiteral("pixquill-batch: cannot read the folder \"%1\" (%2)").arg(path, folder.Reason));
    }
}

// Runs the batch the options describe, reporting as it goes, and gives the
// exit status.
int RunAndReport(const BatchOptions& options, JsonLinesReport& report)
{
    ReportListing(options);
    BatchPlan plan;
    plan.Names = options.Names;
    plan.Jobs = options.Jobs;
    // Each worker thread feeds a copy of this program started as a decode
    // worker, so that a crash or an endless loop inside FreeImage costs only
    // the file in hand. The workers ignore the terminal's Ctrl+C: this
    // process decides when they end.
    if (!options.InProcess) {
        plan.Workers = DecodeWorkerProgram();
        plan.Workers.TimeoutSeconds = options.TimeoutSeconds;
        plan.Workers.IgnoreInterrupts = true;
    }
    plan.SkipUpToDate = options.SkipUpToDate;
    // Said once, and first in the report.
    ProgressPrinter printer(options.Quiet);
    plan.SandboxNoted = [&](const QString& note) {
        printer.EndLine();
        PrintLine(stderr, QStringLiteral("pixquill-batch: ") + note);
        report.AddSandbox(note);
    };
    plan.MemoryLimit = options.MemoryLimit;
    // Ctrl+C finishes the images in hand, as documented; a second one ends
    // the run at once.
    plan.Stop = &g_stop;
    plan.StopFinishesStarted = true;
    plan.StopNow = &g_stopNow;
    CatchStopSignals();

    // A thumbnail per box of every image.
    const int total = static_cast<int>(options.Names.size() * OutputSizesOf(options.Settings).size());
    const SettingsSnapshot settings(options.Settings);
    const BatchReport batch = RunBatch(plan, settings, [&](const ImageResult& result, int done, int all) {
        report.Add(result, BuildImageNames(result.Name, options.Settings).SourcePath);
        if (const QString shared = SharedNameLine(result); !shared.isEmpty())
            printer.Line(shared);
        if (!result.Written && !result.UpToDate && !IsShadowed(result))
            printer.Failure(result);
        else if (!result.Warning.isEmpty())
            printer.Warning(result);
        printer.Show(done, all);
    });
    printer.EndLine();
    if (batch.WorkersEndedBadly > 0)
        PrintLine(stderr, QStringLiteral("pixquill-batch: %1 decode worker(s) did not end cleanly")
                              .arg(batch.WorkersEndedBadly));
    if (!report.Problem().isEmpty())
        PrintLine(stderr, QStringLiteral("pixquill-batch: cannot write the report \"%1\" (%2)")
                              .arg(options.ReportPath.value_or(QString()), report.Problem()));

    const bool stopped = batch.Tally.Handled() < total;
    if (!options.Quiet) {
        // With the report on standard output, the caption goes to standard error.
        FILE* captionStream = options.ReportPath == QStringLiteral("-") ? stderr : stdout;
        PrintLine(captionStream,
                  stopped ? batch.Tally.StoppedCaption(total) : batch.Tally.CompletionCaption(total));
    }
    int status = batch.Tally.Failed == 0 && report.Problem().isEmpty() && options.UnreadFolders.empty()
                     ? kExitAllWritten
                     : kExitSomeNotWritten;
    if (stopped && g_signal != 0)
        status = kExitSignalBase + g_signal;
    if (batch.Abandoned) {
        // Threads are still inside the image library, their saves refused:
        // leave without running any destructor under them.
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    // Under a file-size limit (a scheduler's, a quota's) a write past it
    // would kill the process; ignored, the write fails with EFBIG and the
    // image is reported "File too large" like any other failed save.
    std::signal(SIGXFSZ, SIG_IGN);
    qInstallMessageHandler(DropQtMessages);
    // The application object also sets the C locale from the environment, so
    // a worker decodes under the same locale as the batch that started it.
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], kDecodeWorkerOption) == 0)
        return RunDecodeWorker();
    QCoreApplication::setApplicationName(QStringLiteral("pixquill-batch"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PIXQUILL_VERSION));

    const Outcome<BatchOptions> options = ParseCommandLine();
    if (!options)
        return UsageError(options.Reason());

    if (const Outcome<QString> destination = PrepareDestination(options->Settings); !destination) {
        if (destination.Error().Code == kNoDestination)
            return UsageError(destination.Reason());
        PrintLine(stderr, QStringLiteral("pixquill-batch: cannot create the destination folder \"%1\" (%2)")
                              .arg(TrimSetting(options->Settings.DestinationFolder), destination.Reason()));
        return kExitSomeNotWritten;
    }

    JsonLinesReport report;
    if (options->ReportPath) {
        if (const Outcome<> opened = report.Open(*options->ReportPath); !opened) {
            PrintLine(stderr, QStringLiteral("pixquill-batch: cannot write the report \"%1\" (%2)")
                                  .arg(*options->ReportPath, opened.Reason()));
            return kExitSomeNotWritten;
        }
    }
    return RunAndReport(*options, report);
}
