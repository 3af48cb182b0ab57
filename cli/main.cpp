// pixquill-batch: the thumbnail engine on the command line, for scripts and
// servers. Same engine and same output files as the window's batch.

#include <atomic>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include "cli/DecodeWorkerProgram.h"
#include "cli/JsonLinesReport.h"
#include "engine/BatchRun.h"
#include "engine/DecodeWorker.h"
#include "engine/FolderListing.h"
#include "engine/ImageNames.h"
#include "engine/OptionTables.h"
#include "engine/ParallelBatch.h"

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

[[noreturn]] void UsageError(const QString& message)
{
    PrintLine(stderr, QStringLiteral("pixquill-batch: %1 (see --help)").arg(message));
    std::exit(kExitUsage);
}

// The position of value in choices, or a usage error naming the option.
int Choice(const QCommandLineParser& parser, const QString& option, const QStringList& choices)
{
    const QString value = parser.value(option);
    const int index = static_cast<int>(choices.indexOf(value.toLower()));
    if (index < 0)
        UsageError(QStringLiteral("--%1: unknown value \"%2\", expected %3")
                       .arg(option, value, choices.join(QLatin1Char('|'))));
    return index;
}

void CheckNumber(const QCommandLineParser& parser, const QString& option)
{
    const NumberSetting number = ReadNumberSetting(parser.value(option));
    if (!number.Value)
        UsageError(QStringLiteral("--%1: %2").arg(option, number.Error));
}

// A whole number from low to high, or a usage error naming the option.
int WholeNumber(const QCommandLineParser& parser, const QString& option, int low, int high,
                const QString& expected)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < low || value > high)
        UsageError(QStringLiteral("--%1: \"%2\" is not %3").arg(option, parser.value(option), expected));
    return value;
}

// The names of a --files-from list: one per line, or NUL-separated. Empty
// entries are skipped; nothing else is trimmed, since a blank or a "\r" can
// be part of a name.
QStringList ReadNameList(const QString& path, bool nulSeparated)
{
    QFile file;
    const bool opened = path == QStringLiteral("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                    : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!opened)
        UsageError(QStringLiteral("--files-from: cannot read \"%1\" (%2)").arg(path, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        UsageError(QStringLiteral("--files-from: cannot read \"%1\" (%2)").arg(path, file.errorString()));
    QStringList names;
    for (const QByteArray& entry : bytes.split(nulSeparated ? '\0' : '\n')) {
        if (!entry.isEmpty())
            names.append(QFile::decodeName(entry));
    }
    return names;
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

    const QStringList resizeChoices{"aspect", "none", "exact", "percent"};
    const QStringList filterChoices{"none",     "bspline",    "bicubic", "bilinear",
                                    "box",      "catmullrom", "lanczos3"};
    const QStringList formatChoices{"bmp", "gif", "ico", "jpg", "png", "tga", "tif"};

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes a thumbnail of every image in SOURCE (or of each FILE named) in DEST.\n"
        "Ctrl+C (SIGINT) or SIGTERM ends the run once the images in hand are written; a second one "
        "ends it at once. Either way no partial file is left.\n"
        "Exit status: 0 every image written (or up to date), 1 some not written, 2 usage error, "
        "130 ended by SIGINT, 143 ended by SIGTERM."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("SOURCE", "Folder holding the images.");
    parser.addPositionalArgument("DEST", "Folder for the thumbnails (created, one level, when missing).");
    parser.addPositionalArgument("FILE", "File names inside SOURCE; default: every file matching --mask, in name order.",
                                 "[FILE...]");
    parser.addOptions({
        {"mask", "Wildcard patterns separated by \";\" (default: all supported formats).", "MASK",
         *FileMaskAt(kFileMaskAllSupported)},
        {"files-from", "Read the file names from LIST (\"-\": standard input) instead of FILE arguments: "
                       "one per line, names inside SOURCE as FILE arguments are, so without \"/\" (a name "
                       "with one is a usage error). Empty lines are skipped; nothing else is trimmed, a "
                       "blank or a \"\\r\" being part of the name. The list is run in its own order.",
         "LIST"},
        {"null", "Names in --files-from are separated by NUL characters rather than lines, so any name "
                 "works (find SOURCE -maxdepth 1 -type f -printf '%f\\0' makes such a list)."},
        {"resize", "aspect, none, exact or percent (default aspect).", "MODE", "aspect"},
        {"width", "Width in pixels, or the percentage in percent mode (default 100).", "N", "100"},
        {"height", "Height in pixels (default 100).", "N", "100"},
        {"filter", "none, bspline, bicubic, bilinear, box, catmullrom or lanczos3 (default none).",
         "FILTER", "none"},
        {"format", "bmp, gif, ico, jpg, png, tga or tif (default jpg).", "FORMAT", "jpg"},
        {"quality", "JPEG quality, 1 (smallest files) to 100 (best pictures); only with --format jpg "
                    "(default: the image library's own, 75).",
         "N"},
        {"prefix", "Text put in front of every output name (default _TH).", "TEXT", "_TH"},
        {"newer", "Skip an image whose thumbnail already exists and is newer than the image, counting it "
                  "as up to date. Images that share a thumbnail are made again together when any of them "
                  "changed."},
        {"report", "Write one JSON object per image to REPORT (\"-\": standard output, which then "
                   "carries nothing else; the caption goes to standard error), a line each as the images "
                   "finish: name, source, output, written, up_to_date, reason (null when written), "
                   "source_bytes, source_width, source_height, thumbnail_width, thumbnail_height, "
                   "thumbnail_bytes, milliseconds (null where not known).",
         "REPORT"},
        {"share", "Make only share K of N of the list, for splitting one run over several machines: "
                  "images that share a thumbnail name stay in one share, in list order, so the shares "
                  "of the same list and options together write exactly what one run writes.",
         "K/N"},
        {"jobs", "Parallel workers (default: the number of cores).", "N",
         QString::number(std::max(1, QThread::idealThreadCount()))},
        {"fast", "Decode JPEGs at a reduced scale where the thumbnail is at most half the image: the same "
                 "sizes, nearly the same pixels, much faster."},
        {"quiet", "No progress and no completion caption; failures are still listed."},
        {"timeout", "Seconds one image may take in a worker process before the worker is stopped "
                    "and the file reported (default 300; 0: no limit).",
         "SECONDS", "300"},
        {"in-process", "Decode in this process rather than in worker processes: a little faster to "
                       "start, but a file that crashes the image library ends the whole run."},
    });

    if (!parser.parse(QCoreApplication::arguments())) {
        QString error = parser.errorText();
        if (error.endsWith(QLatin1Char('.')))
            error.chop(1);
        UsageError(error);
    }
    if (parser.isSet("help"))
        parser.showHelp(kExitAllWritten);
    if (parser.isSet("version"))
        parser.showVersion();

    const QStringList positional = parser.positionalArguments();
    if (positional.size() < 2)
        UsageError(QStringLiteral("SOURCE and DEST are required"));

    JobSettings settings;
    settings.SourceFolder = positional[0];
    settings.DestinationFolder = positional[1];
    settings.Prefix = parser.value("prefix");
    settings.WidthText = parser.value("width");
    settings.HeightText = parser.value("height");
    settings.ResizeMode = Choice(parser, "resize", resizeChoices);
    settings.ResampleFilter = *ResampleFilterCodeAt(Choice(parser, "filter", filterChoices));
    settings.OutputFormat = Choice(parser, "format", formatChoices);
    settings.FastDecode = parser.isSet("fast");
    CheckNumber(parser, "width");
    CheckNumber(parser, "height");
    if (parser.isSet("quality")) {
        settings.JpegQuality = WholeNumber(parser, "quality", 1, 100, QStringLiteral("a whole number from 1 to 100"));
        if (settings.OutputFormat != kOutputFormatJpeg)
            UsageError(QStringLiteral("--quality: only JPEG output has a quality (--format jpg)"));
    }

    const int jobs = WholeNumber(parser, "jobs", 1, INT_MAX, QStringLiteral("a whole number of at least 1"));
    const int timeout = WholeNumber(parser, "timeout", 0, INT_MAX, QStringLiteral("a whole number of seconds"));

    int share = 1;
    int shares = 1;
    if (parser.isSet("share")) {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^(\\d{1,9})/(\\d{1,9})$")).match(parser.value("share"));
        share = match.hasMatch() ? match.captured(1).toInt() : 0;
        shares = match.hasMatch() ? match.captured(2).toInt() : 0;
        if (share < 1 || share > shares)
            UsageError(QStringLiteral("--share: \"%1\" is not K/N with 1 <= K <= N").arg(parser.value("share")));
    }

    const QString source = TrimSetting(settings.SourceFolder);
    if (source.isEmpty() || !QFileInfo(source).isDir())
        UsageError(QStringLiteral("SOURCE: \"%1\" is not a folder").arg(settings.SourceFolder));

    QStringList names = positional.mid(2);
    QString namesFrom = QStringLiteral("FILE");
    if (parser.isSet("null") && !parser.isSet("files-from"))
        UsageError(QStringLiteral("--null: only with --files-from"));
    if (parser.isSet("files-from")) {
        if (!names.isEmpty())
            UsageError(QStringLiteral("--files-from: FILE arguments as well"));
        names = ReadNameList(parser.value("files-from"), parser.isSet("null"));
        namesFrom = QStringLiteral("--files-from");
    }
    for (const QString& name : names) {
        if (name.isEmpty() || name.contains(QLatin1Char('/')))
            UsageError(QStringLiteral("%1: \"%2\" is not a file name inside SOURCE").arg(namesFrom, name));
    }
    if (!parser.isSet("files-from") && names.isEmpty())
        names = ListMatchingFiles(source, parser.value("mask"));
    if (shares > 1)
        names = ShareOfList(names, settings, share, shares);

    const QString destination = TrimSetting(settings.DestinationFolder);
    if (destination.isEmpty())
        UsageError(QStringLiteral("Choose a destination folder"));
    if (!QFileInfo::exists(destination)) {
        if (const QString problem = CreateOneFolder(destination); !problem.isEmpty()) {
            PrintLine(stderr, QStringLiteral("pixquill-batch: cannot create the destination folder \"%1\" (%2)")
                                  .arg(destination, problem));
            return kExitSomeNotWritten;
        }
    }

    JsonLinesReport report;
    if (parser.isSet("report")) {
        if (const QString problem = report.Open(parser.value("report")); !problem.isEmpty()) {
            PrintLine(stderr, QStringLiteral("pixquill-batch: cannot write the report \"%1\" (%2)")
                                  .arg(parser.value("report"), problem));
            return kExitSomeNotWritten;
        }
    }
    // With the report on standard output, the caption goes to standard error.
    FILE* captionStream = parser.value("report") == QStringLiteral("-") ? stderr : stdout;

    ParallelBatchOptions options;
    // Each worker thread feeds a copy of this program started as a decode
    // worker, so that a crash or an endless loop inside FreeImage costs only
    // the file in hand. The workers ignore the terminal's Ctrl+C: this
    // process decides when they end.
    if (!parser.isSet("in-process")) {
        options.Workers = DecodeWorkerProgram();
        options.Workers.TimeoutSeconds = timeout;
        options.Workers.IgnoreInterrupts = true;
    }
    options.SkipUpToDate = parser.isSet("newer");
    options.Stop = &g_stop;
    options.StopNow = &g_stopNow;
    CatchStopSignals();

    const bool quiet = parser.isSet("quiet");
    const int total = static_cast<int>(names.size());
    ProgressPrinter printer(quiet);
    const ParallelBatchResult batch = RunParallelBatch(
        names, settings, jobs,
        [&](const ImageResult& result, int done, int all) {
            report.Add(result, BuildImageNames(result.Name, settings).SourcePath);
            if (!result.Written && !result.UpToDate)
                printer.Failure(result);
            printer.Show(done, all);
        },
        options);
    printer.EndLine();
    if (batch.WorkersEndedBadly > 0)
        PrintLine(stderr, QStringLiteral("pixquill-batch: %1 decode worker(s) did not end cleanly")
                              .arg(batch.WorkersEndedBadly));
    if (!report.Problem().isEmpty())
        PrintLine(stderr, QStringLiteral("pixquill-batch: cannot write the report \"%1\" (%2)")
                              .arg(parser.value("report"), report.Problem()));

    const bool stopped = batch.Handled < total;
    if (!quiet) {
        PrintLine(captionStream,
                  stopped ? BatchRun::StoppedCaption(batch.Handled, total, batch.Written, batch.UpToDate)
                          : BatchRun::CompletionCaption(batch.Written, total, batch.UpToDate));
    }
    int status = batch.Failed == 0 && report.Problem().isEmpty() ? kExitAllWritten : kExitSomeNotWritten;
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
