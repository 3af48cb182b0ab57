// pixquill-batch: the thumbnail engine on the command line, for scripts and
// servers. Same engine and same output files as the window's batch.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include "engine/BatchRun.h"
#include "engine/DecodeWorker.h"
#include "engine/FolderListing.h"
#include "engine/OptionTables.h"
#include "engine/ParallelBatch.h"

using namespace pixquill;

namespace {

constexpr int kExitAllWritten = 0;
constexpr int kExitSomeNotWritten = 1;
constexpr int kExitUsage = 2;

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
        "Exit status: 0 every image written, 1 some not written, 2 usage error."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument("SOURCE", "Folder holding the images.");
    parser.addPositionalArgument("DEST", "Folder for the thumbnails (created, one level, when missing).");
    parser.addPositionalArgument("FILE", "File names inside SOURCE; default: every file matching --mask, in name order.",
                                 "[FILE...]");
    parser.addOptions({
        {"mask", "Wildcard patterns separated by \";\" (default: all supported formats).", "MASK",
         *FileMaskAt(kFileMaskAllSupported)},
        {"resize", "aspect, none, exact or percent (default aspect).", "MODE", "aspect"},
        {"width", "Width in pixels, or the percentage in percent mode (default 100).", "N", "100"},
        {"height", "Height in pixels (default 100).", "N", "100"},
        {"filter", "none, bspline, bicubic, bilinear, box, catmullrom or lanczos3 (default none).",
         "FILTER", "none"},
        {"format", "bmp, gif, ico, jpg, png, tga or tif (default jpg).", "FORMAT", "jpg"},
        {"prefix", "Text put in front of every output name (default _TH).", "TEXT", "_TH"},
        {"quality", "JPEG quality, 1 (smallest files) to 100 (best pictures); only with --format jpg "
                    "(default: the image library's own, 75).",
         "N"},
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
        bool qualityOk = false;
        const int quality = parser.value("quality").toInt(&qualityOk);
        if (!qualityOk || quality < 1 || quality > 100)
            UsageError(QStringLiteral("--quality: \"%1\" is not a whole number from 1 to 100")
                           .arg(parser.value("quality")));
        if (settings.OutputFormat != kOutputFormatJpeg)
            UsageError(QStringLiteral("--quality: only JPEG output has a quality (--format jpg)"));
        settings.JpegQuality = quality;
    }

    bool jobsOk = false;
    const int jobs = parser.value("jobs").toInt(&jobsOk);
    if (!jobsOk || jobs < 1)
        UsageError(QStringLiteral("--jobs: \"%1\" is not a whole number of at least 1")
                       .arg(parser.value("jobs")));

    bool timeoutOk = false;
    const int timeout = parser.value("timeout").toInt(&timeoutOk);
    if (!timeoutOk || timeout < 0)
        UsageError(QStringLiteral("--timeout: \"%1\" is not a whole number of seconds")
                       .arg(parser.value("timeout")));

    const QString source = TrimSetting(settings.SourceFolder);
    if (source.isEmpty() || !QFileInfo(source).isDir())
        UsageError(QStringLiteral("SOURCE: \"%1\" is not a folder").arg(settings.SourceFolder));

    QStringList names = positional.mid(2);
    for (const QString& name : names) {
        if (name.isEmpty() || name.contains(QLatin1Char('/')))
            UsageError(QStringLiteral("FILE: \"%1\" is not a file name inside SOURCE").arg(name));
    }
    if (names.isEmpty())
        names = ListMatchingFiles(source, parser.value("mask"));

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

    // Each worker thread feeds a copy of this program started as a decode
    // worker, so that a crash or an endless loop inside FreeImage costs only
    // the file in hand.
    WorkerCommand workers;
    if (!parser.isSet("in-process"))
        workers = {QCoreApplication::applicationFilePath(), {QString::fromLatin1(kDecodeWorkerOption)}, timeout};

    const bool quiet = parser.isSet("quiet");
    ProgressPrinter printer(quiet);
    const ParallelBatchResult batch = RunParallelBatch(
        names, settings, jobs,
        [&printer](const ImageResult& result, int done, int total) {
            if (!result.Written)
                printer.Failure(result);
            printer.Show(done, total);
        },
        workers);
    printer.EndLine();
    if (batch.WorkersEndedBadly > 0)
        PrintLine(stderr, QStringLiteral("pixquill-batch: %1 decode worker(s) did not end cleanly")
                              .arg(batch.WorkersEndedBadly));

    if (!quiet)
        PrintLine(stdout, BatchRun::CompletionCaption(batch.Written, static_cast<int>(names.size())));
    return batch.Failed == 0 ? kExitAllWritten : kExitSomeNotWritten;
}
