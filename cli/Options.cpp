#include "cli/Options.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <variant>

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include "codec/OutputFormats.h"
#include "engine/JobSettingsTable.h"
#include "engine/MemoryBudget.h"
#include "engine/OptionTables.h"
#include "engine/BatchEngine.h"
#include "engine/Handover.h"
#include "engine/OutputSizes.h"

namespace pixquill {

namespace {

QStringList ChoiceNames(const std::vector<NamedChoice>& choices)
{
    QStringList names;
    for (const NamedChoice& choice : choices)
        names.append(QString::fromLatin1(choice.Name));
    return names;
}

QStringList FormatNames(bool (*which)(const OutputFormatEntry&))
{
    QStringList names;
    for (const OutputFormatEntry& entry : OutputFormats()) {
        if (which(entry))
            names.append(QString::fromLatin1(entry.Name));
    }
    return names;
}

QStringList LossyFormatNames()
{
    return FormatNames([](const OutputFormatEntry& entry) { return entry.DefaultQuality > 0; });
}

// The --quality help, with each lossy format's default: "... Defaults: jpg 75, webp 80, ...".
QString QualityHelp()
{
    QStringList defaults;
    for (const OutputFormatEntry& entry : OutputFormats()) {
        if (entry.DefaultQuality > 0)
            defaults.append(QStringLiteral("%1 %2").arg(QString::fromLatin1(entry.Name)).arg(entry.DefaultQuality));
    }
    return QStringLiteral("Quality of the lossy formats, 1 (smallest files) to 100 (best pictures); only with "
                          "one of them. Defaults: %1 (JPEG's is the image library's own).")
        .arg(defaults.join(QStringLiteral(", ")));
}

// A setting's default as the command line writes it: JobSettings' own.
QString DefaultText(const JobSettingRow& row)
{
    const JobSettings defaults;
    if (row.Syntax == SettingSyntax::Choice)
        return ChoiceName(row.Choices(), defaults.*std::get<int JobSettings::*>(row.Field));
    if (const auto* text = std::get_if<QString JobSettings::*>(&row.Field))
        return defaults.**text;
    return {};
}

// "aspect, none, exact or percent (default aspect)."; "Height in pixels (default 100)."
QString SettingHelp(const JobSettingRow& row)
{
    switch (row.Syntax) {
    case SettingSyntax::Choice: {
        QStringList names = ChoiceNames(row.Choices());
        const QString last = names.takeLast();
        const QString choices
            = QStringLiteral("%1 or %2 (default %3).").arg(names.join(QStringLiteral(", ")), last, DefaultText(row));
        return row.Help ? QString::fromLatin1(row.Help) + QLatin1Char(' ') + choices : choices;
    }
    case SettingSyntax::Text:
    case SettingSyntax::Number:
        return QStringLiteral("%1 (default %2).").arg(QString::fromLatin1(row.Help), DefaultText(row));
    case SettingSyntax::Quality:
        return QualityHelp();
    case SettingSyntax::Folder:
    case SettingSyntax::Switch:
    case SettingSyntax::Sizes:
        break;
    }
    return QString::fromLatin1(row.Help);
}

QCommandLineOption SettingOption(const JobSettingRow& row)
{
    const QString name = QString::fromLatin1(row.Option);
    if (!row.ValueName)
        return QCommandLineOption(name, SettingHelp(row));
    return QCommandLineOption(name, SettingHelp(row), QString::fromLatin1(row.ValueName), DefaultText(row));
}

Failure UsageFailure(const QString& message)
{
    return Failure{message};
}

// The value the option names among choices (case ignored).
Outcome<int> Choice(const QCommandLineParser& parser, const QString& option,
                    const std::vector<NamedChoice>& choices)
{
    const QString value = parser.value(option);
    for (const NamedChoice& choice : choices) {
        if (value.compare(QLatin1String(choice.Name), Qt::CaseInsensitive) == 0)
            return choice.Value;
    }
    return UsageFailure(QStringLiteral("--%1: unknown value \"%2\", expected %3")
                            .arg(option, value, ChoiceNames(choices).join(QLatin1Char('|'))));
}

// A whole number from low to high.
Outcome<int> WholeNumber(const QCommandLineParser& parser, const QString& option, int low, int high,
                         const QString& expected)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < low || value > high)
        return UsageFailure(QStringLiteral("--%1: \"%2\" is not %3").arg(option, parser.value(option), expected));
    return value;
}

// The value of one setting's row, read from the command line and checked;
// positional is where a Folder's argument stands.
Outcome<> ReadSetting(const QCommandLineParser& parser, const JobSettingRow& row, const QString& positional,
                      JobSettings& settings)
{
    const QString option = QString::fromLatin1(row.Option);
    const auto set = [&](auto value) { settings.*std::get<decltype(value) JobSettings::*>(row.Field) = value; };
    switch (row.Syntax) {
    case SettingSyntax::Folder:
        set(positional);
        break;
    case SettingSyntax::Number:
        if (const Outcome<std::int32_t> number = ReadNumberSetting(parser.value(option)); !number)
            return UsageFailure(QStringLiteral("--%1: %2").arg(option, number.Reason()));
        set(parser.value(option)); // kept as typed, as the window keeps its boxes' texts
        break;
    case SettingSyntax::Text:
        set(parser.value(option));
        break;
    case SettingSyntax::Choice: {
        const Outcome<int> value = Choice(parser, option, row.Choices());
        if (!value)
            return value.Error();
        set(*value);
        break;
    }
    case SettingSyntax::Switch:
        set(parser.isSet(option));
        break;
    case SettingSyntax::Quality: {
        if (!parser.isSet(option))
            break;
        const Outcome<int> quality =
            WholeNumber(parser, option, 1, 100, QStringLiteral("a whole number from 1 to 100"));
        if (!quality)
            return quality.Error();
        set(*quality);
        break;
    }
    case SettingSyntax::Sizes: {
        const QStringList boxes = parser.values(option);
        if (boxes.isEmpty())
            break;
        if (parser.isSet("width") || parser.isSet("height"))
            return UsageFailure(QStringLiteral("--%1: not with --width or --height").arg(option));
        if (boxes.size() > kMaxHandedOutputs)
            return UsageFailure(QStringLiteral("--%1: at most %2 boxes").arg(option).arg(kMaxHandedOutputs));
        const Outcome<QString> list = ReadSizeList(boxes);
        if (!list)
            return UsageFailure(QStringLiteral("--%1: %2").arg(option, list.Reason()));
        JobSettings listed;
        listed.Sizes = *list;
        const std::vector<OutputSize> sizes = OutputSizesOf(listed);
        if (sizes.size() == 1) {
            settings.WidthText = sizes.front().WidthText;
            settings.HeightText = sizes.front().HeightText;
        } else {
            set(*list);
        }
        break;
    }
    }
    return {};
}

// The job's settings from SOURCE, DEST and the options that shape a thumbnail.
Outcome<JobSettings> ReadJobSettings(const QCommandLineParser& parser)
{
    const QStringList positional = parser.positionalArguments();
    QStringList folders;
    for (const JobSettingRow& row : JobSettingRows()) {
        if (row.Syntax == SettingSyntax::Folder)
            folders.append(QString::fromLatin1(row.Option));
    }
    if (positional.size() < folders.size())
        return UsageFailure(QStringLiteral("%1 are required").arg(folders.join(QStringLiteral(" and "))));
    JobSettings settings;
    int folder = 0;
    for (const JobSettingRow& row : JobSettingRows()) {
        const QString argument = row.Syntax == SettingSyntax::Folder ? positional[folder++] : QString();
        if (const Outcome<> read = ReadSetting(parser, row, argument, settings); !read)
            return read.Error();
    }
    const OutputFormatEntry& format = OutputFormats()[std::size_t(settings.OutputFormat)];
    if (settings.Quality != 0 && format.DefaultQuality == 0)
        return UsageFailure(QStringLiteral("--quality: only the lossy formats have a quality (%1)")
                                .arg(LossyFormatNames().join(QStringLiteral(", "))));
    if (settings.Keep != kKeepNone && !format.CarriesMetadata)
        return UsageFailure(
            QStringLiteral("--keep: only these formats carry metadata (%1)")
                .arg(FormatNames([](const OutputFormatEntry& entry) { return entry.CarriesMetadata; })
                         .join(QStringLiteral(", "))));
    return settings;
}

struct Share {
    int Index = 1; // 1..Count
    int Count = 1;
};

Outcome<Share> ReadShare(const QCommandLineParser& parser)
{
    if (!parser.isSet("share"))
        return Share{};
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^(\\d{1,9})/(\\d{1,9})$")).match(parser.value("share"));
    const Share share{match.hasMatch() ? match.captured(1).toInt() : 0,
                      match.hasMatch() ? match.captured(2).toInt() : 0};
    if (share.Index < 1 || share.Index > share.Count)
        return UsageFailure(
            QStringLiteral("--share: \"%1\" is not K/N with 1 <= K <= N").arg(parser.value("share")));
    return share;
}

// The names of a --files-from list: one per line, or NUL-separated. Empty
// entries are skipped; nothing else is trimmed, since a blank or a "\r" can
// be part of a name.
Outcome<QStringList> ReadNameList(const QString& path, bool nulSeparated)
{
    QFile file;
    const bool opened = path == QStringLiteral("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                    : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    const auto unreadable = [&] {
        return UsageFailure(QStringLiteral("--files-from: cannot read \"%1\" (%2)").arg(path, file.errorString()));
    };
    if (!opened)
        return unreadable();
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return unreadable();
    QStringList names;
    for (const QByteArray& entry : bytes.split(nulSeparated ? '\0' : '\n')) {
        if (!entry.isEmpty())
            names.append(QFile::decodeName(entry));
    }
    return names;
}

// A name from the command line or a --files-from list: a file name inside
// SOURCE; with --recursive, also a path below it. Paths are taken only in
// the plain form a listing gives ("a/b.jpg"), so that no two spellings of one
// file ("a//b.jpg", "./a/b.jpg") can make two outputs of the same name in
// parallel, and none leaves SOURCE. The reason ends the usage message.
Outcome<> CheckListedName(const QString& name, bool recursive)
{
    if (name.isEmpty())
        return Failure{QStringLiteral("is not a file name")};
    if (!name.contains(QLatin1Char('/')))
        return {};
    if (!recursive)
        return Failure{QStringLiteral("is not a file name inside SOURCE (paths below it need --recursive)")};
    if (name.startsWith(QLatin1Char('/')))
        return Failure{QStringLiteral("is an absolute path: name files relative to SOURCE")};
    const QStringList levels = name.split(QLatin1Char('/'));
    if (levels.contains(QStringLiteral("..")))
        return Failure{QStringLiteral("leads out of SOURCE (\"..\")")};
    if (levels.contains(QString()) || levels.contains(QStringLiteral(".")))
        return Failure{QStringLiteral("is not a plain path below SOURCE (an empty or \".\" part)")};
    return {};
}

// The FILE arguments or the --files-from list, checked; empty when neither
// names a file.
Outcome<QStringList> CollectNames(const QCommandLineParser& parser)
{
    QStringList names = parser.positionalArguments().mid(2);
    QString namesFrom = QStringLiteral("FILE");
    if (parser.isSet("null") && !parser.isSet("files-from"))
        return UsageFailure(QStringLiteral("--null: only with --files-from"));
    if (parser.isSet("files-from")) {
        if (!names.isEmpty())
            return UsageFailure(QStringLiteral("--files-from: FILE arguments as well"));
        Outcome<QStringList> listed = ReadNameList(parser.value("files-from"), parser.isSet("null"));
        if (!listed)
            return listed.Error();
        names = std::move(listed).Value();
        namesFrom = QStringLiteral("--files-from");
    }
    const bool recursive = parser.isSet("recursive");
    for (const QString& name : names) {
        if (const Outcome<> checked = CheckListedName(name, recursive); !checked)
            return UsageFailure(QStringLiteral("%1: \"%2\" %3").arg(namesFrom, name, checked.Reason()));
    }
    return names;
}

// SOURCE's files matching --mask in file-manager order; with --recursive,
// those of every folder below as well, DEST's own tree left out.
FolderTree ListSource(const QCommandLineParser& parser, const JobSettings& settings)
{
    FolderTreeOptions options;
    options.SubFolders = parser.isSet("recursive");
    options.SpecialEntries = true;
    if (options.SubFolders)
        options.LeaveOut = TrimSetting(settings.DestinationFolder);
    return ReadFolderTree(TrimSetting(settings.SourceFolder), parser.value("mask"), options);
}

} // namespace

void DescribeOptions(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Makes a thumbnail of every image in SOURCE (or of each FILE named) in DEST; with --recursive, "
        "of every image below SOURCE too, each in the same folder below DEST.\n"
        "Example, a photo library by year and month as thumbnails of 400 x 400 at most, the tree kept:\n"
        "  pixquill-batch --recursive --width 400 --height 400 ~/Photos ~/Thumbs\n"
        "The same as WebP thumbnails for a web page:\n"
        "  pixquill-batch --recursive --format webp --width 400 --height 400 ~/Photos ~/Site/thumbs\n"
        "The images of a responsive page, every photo in three sizes from one decode (_THa-320.webp, "
        "_THa-640.webp, _THa-1280.webp):\n"
        "  pixquill-batch --recursive --format webp --size 320x320 --size 640x640 --size 1280x1280 ~/Photos ~/Site/img\n"
        "Square thumbnails for a grid, each photo filling 300 x 300, its middle kept:\n"
        "  pixquill-batch --resize fill --size 300x300 --format webp ~/Photos ~/Site/grid\n"
        "A HEIC, HEIF or AVIF file's own thumbnail image (phones store one) is decoded instead of the "
        "photo when it is at least twice the thumbnail both ways and of the photo's shape (within 1 %): "
        "the thumbnail cannot tell the difference, and it takes a fraction of the time. JPEG photos are "
        "decoded in full unless --fast is given. Colour profiles are honoured; an 8-bit photo's colours "
        "are converted on its thumbnail, after the reduction, a 16-bit one's before.\n"
        "Camera RAW files (DNG, CR2, CR3, NEF, ARW, RAF, ORF, RW2 and the others LibRaw reads) give their "
        "thumbnails from the preview the camera stored in them, the camera's own rendering, when it is at "
        "least twice the thumbnail's size and shows the whole picture: that costs a JPEG decode. Only "
        "where the preview is smaller are the raw data rendered (the camera's white balance, sRGB), at "
        "half size when that is enough, which takes far longer.\n"
        "Ctrl+C (SIGINT) or SIGTERM ends the run once the images in hand are written; a second one "
        "ends it at once. Either way no partial file is left.\n"
        "Exit status: 0 every image written (or up to date), 1 some not written, 2 usage error, "
        "130 ended by SIGINT, 143 ended by SIGTERM."));
    parser.addHelpOption();
    parser.addVersionOption();
    for (const JobSettingRow& row : JobSettingRows()) {
        if (row.Syntax == SettingSyntax::Folder)
            parser.addPositionalArgument(QString::fromLatin1(row.Option), SettingHelp(row));
    }
    parser.addPositionalArgument("FILE", "File names inside SOURCE (with --recursive, paths below it such as "
                                         "2024/05/a.jpg); default: every file matching --mask, in name order.",
                                 "[FILE...]");
    parser.addOptions({
        {"mask", "Wildcard patterns separated by \";\" (default: every format pixquill-batch reads, the "
                 "phones' HEIC and HEIF, AVIF, JPEG XL, WebP and the cameras' RAW files among them).",
         "MASK", *FileMaskAt(kFileMaskAllReadable)},
        {"recursive", "Also make thumbnails of the images in every folder below SOURCE, each written into "
                      "the same folder below DEST (made as needed), so equal names in different folders "
                      "never meet. Folders are taken in the order of the names (case ignored, numbers by "
                      "value), each in full before the next, after the files beside them. Hidden folders are skipped and links to folders not "
                      "followed; a folder that cannot be read is reported and the run goes on (status 1). "
                      "When DEST lies inside SOURCE, its folder is left out."},
        {"files-from", "Read the file names from LIST (\"-\": standard input) instead of FILE arguments: "
                       "one per line, names inside SOURCE as FILE arguments are, so without \"/\" (a name "
                       "with one is a usage error); with --recursive, paths relative to SOURCE "
                       "(2024/05/a.jpg; never absolute, never \"..\"). Empty lines are skipped; nothing "
                       "else is trimmed, a blank or a \"\\r\" being part of the name. The list is run in "
                       "its own order.",
         "LIST"},
        {"null", "Names in --files-from are separated by NUL characters rather than lines, so any name "
                 "works (find SOURCE -maxdepth 1 -type f -printf '%f\\0' makes such a list; with "
                 "--recursive, cd SOURCE && find . -type f -printf '%P\\0')."},
    });
    // The options that shape a thumbnail, from the job settings' rows.
    for (const JobSettingRow& row : JobSettingRows()) {
        if (row.Syntax != SettingSyntax::Folder)
            parser.addOption(SettingOption(row));
    }
    parser.addOptions({
        {"newer", "Skip an image whose thumbnail already exists and is newer than the image, counting it "
                  "as up to date. Images that share a thumbnail are made again together when any of them "
                  "changed."},
        {"report", "Write one JSON object per thumbnail to REPORT (\"-\": standard output, which then "
                   "carries nothing else; the caption goes to standard error), a line each as the images "
                   "finish: name (relative to SOURCE), source, output, written, up_to_date, reason (null when written), "
                   "source_bytes, source_width, source_height, thumbnail_width, thumbnail_height, "
                   "thumbnail_bytes, milliseconds (null where not known), warning (a note on an image written all "
                   "the same, such as a library's warning on damaged data; null when none), size (the "
                   "--size box of the line's thumbnail when several are given, null otherwise). With several "
                   "--size boxes there is a line per thumbnail. shown_by: where images share a thumbnail name "
                   "(a.heic, a.jpg), the one whose picture the file shows, on the line of each that wrote it; "
                   "the others are written: false, with that reason. Where the decode "
                   "workers' sandbox falls short, a line of its own says so before the first image a worker "
                   "made (the first line, unless --newer skipped images before it): sandbox (what is missing, "
                   "as said on standard error).",
         "REPORT"},
        {"share", "Make only share K of N of the list, for splitting one run over several machines: "
                  "images that share a thumbnail name stay in one share, in list order, so the shares "
                  "of the same list and options together write exactly what one run writes.",
         "K/N"},
        {"jobs", "Parallel workers (default: the number of cores).", "N",
         QString::number(std::max(1, QThread::idealThreadCount()))},
        {"memory-limit", "The memory the images in making may take together (default: half of the memory "
                         "available as the run starts), such as 4G or 6000M: each image's need is estimated "
                         "from its header, large images wait their turn, and an image that needs more than "
                         "the limit alone is not made. Each decode worker's address space is bounded by it too.",
         "SIZE"},
        {"quiet", "No progress and no completion caption; failures are still listed."},
        {"timeout", "Seconds one image may take in a worker process before the worker is stopped "
                    "and the file reported (default 300; 0: no limit).",
         "SECONDS", "300"},
        {"in-process", "Decode in this process rather than in worker processes: a little faster to "
                       "start, but a file that crashes the image library ends the whole run, and the "
                       "decoding runs without the workers' sandbox, with all of this program's rights."},
    });
}

Outcome<BatchOptions> ReadOptions(const QCommandLineParser& parser)
{
    BatchOptions options;
    Outcome<JobSettings> settings = ReadJobSettings(parser);
    if (!settings)
        return settings.Error();
    options.Settings = std::move(settings).Value();

    const Outcome<int> jobs =
        WholeNumber(parser, "jobs", 1, INT_MAX, QStringLiteral("a whole number of at least 1"));
    if (!jobs)
        return jobs.Error();
    options.Jobs = *jobs;
    const Outcome<int> timeout =
        WholeNumber(parser, "timeout", 0, INT_MAX, QStringLiteral("a whole number of seconds"));
    if (!timeout)
        return timeout.Error();
    options.TimeoutSeconds = *timeout;
    if (parser.isSet(QStringLiteral("memory-limit"))) {
        const Outcome<std::uint64_t> limit = ParseMemorySize(parser.value(QStringLiteral("memory-limit")));
        if (!limit)
            return UsageFailure(QStringLiteral("--memory-limit: ") + limit.Error().Reason);
        options.MemoryLimit = *limit;
    }
    const Outcome<Share> share = ReadShare(parser);
    if (!share)
        return share.Error();

    const QString source = TrimSetting(options.Settings.SourceFolder);
    if (source.isEmpty() || !QFileInfo(source).isDir())
        return UsageFailure(QStringLiteral("SOURCE: \"%1\" is not a folder").arg(options.Settings.SourceFolder));
    Outcome<QStringList> names = CollectNames(parser);
    if (!names)
        return names.Error();
    options.Names = std::move(names).Value();
    if (!parser.isSet("files-from") && options.Names.isEmpty()) {
        FolderTree listed = ListSource(parser, options.Settings);
        options.Names = std::move(listed.Names);
        options.UnreadFolders = std::move(listed.Unread);
        options.DestinationLeftOut =
            listed.LeftOut
            || (parser.isSet("recursive") && LiesInsideFolder(TrimSetting(options.Settings.DestinationFolder), source));
    }
    if (share->Count > 1)
        options.Names = ShareOfList(options.Names, options.Settings, share->Index, share->Count);

    options.InProcess = parser.isSet("in-process");
    options.SkipUpToDate = parser.isSet("newer");
    options.Quiet = parser.isSet("quiet");
    if (parser.isSet("report"))
        options.ReportPath = parser.value("report");
    return options;
}

} // namespace pixquill
