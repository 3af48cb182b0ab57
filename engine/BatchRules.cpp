#include "engine/BatchRules.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include "codec/HandedFiles.h"
#include "engine/FolderListing.h"
#include "engine/ProcessImage.h"

namespace pixquill {

Outcome<QString> PrepareDestination(const JobSettings& settings)
{
    const QString destination = TrimSetting(settings.DestinationFolder);
    if (destination.isEmpty())
        return Failure{QStringLiteral("Choose a destination folder"), kNoDestination};
    if (!QFileInfo::exists(destination)) {
        if (const Outcome<> created = CreateOneFolder(destination); !created)
            return Failure{created.Reason(), kDestinationNotCreated};
    }
    return destination;
}

QString DestinationCaption(const Failure& failure)
{
    if (failure.Code == kDestinationNotCreated)
        return QStringLiteral("Cannot create the destination folder (%1)").arg(failure.Reason);
    return failure.Reason;
}

Outcome<> PrepareOutputFolder(const QString& name, const JobSettings& settings)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    if (slash < 0)
        return {};
    const QString destination = TrimSetting(settings.DestinationFolder);
    if (const Outcome<> made = CreateFolderLevels(destination, name.left(slash)); !made)
        return Failure{QStringLiteral("cannot create the folder %1").arg(made.Reason())};
    return {};
}

namespace {

// The batch's answers for the request in hand, in a decode worker (whose one
// thread asks): the refusal of each output that would replace a source.
QHash<QString, QString>& HandedChecks()
{
    static QHash<QString, QString> refusals;
    return refusals;
}

} // namespace

void HandOverReplacesChecks(const std::vector<HandedOutput>& outputs)
{
    QHash<QString, QString>& refusals = HandedChecks();
    refusals.clear();
    for (const HandedOutput& output : outputs) {
        if (!output.ReplacesSource.isEmpty())
            refusals.insert(output.Target, output.ReplacesSource);
    }
}

Outcome<> CheckReplacesNoSource(const ImageNames& names, const JobSettings& settings,
                                const QSet<QString>& listedNames)
{
    if (FilesAreHandedOver()) {
        // An output the batch was not asked about is not written here anyway:
        // no temporary file was handed over for it.
        if (const QString refusal = HandedChecks().value(names.OutputPath); !refusal.isEmpty())
            return Failure{refusal};
        return {};
    }
    const QFileInfo output(names.OutputPath);
    if (!output.exists())
        return {};
    const QString outputPath = output.canonicalFilePath();
    if (outputPath == QFileInfo(names.SourcePath).canonicalFilePath())
        return Failure{QStringLiteral("would overwrite the source image")};
    // The output's place below the source folder, if it has one there, as a
    // listed name would spell it.
    QString root = QDir(TrimSetting(settings.SourceFolder)).canonicalPath();
    if (root.isEmpty())
        return {};
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    const QString folder = output.absoluteDir().canonicalPath() + QLatin1Char('/');
    if (!folder.startsWith(root))
        return {};
    const QString relative = folder.mid(root.size()) + output.fileName();
    if (listedNames.contains(relative))
        return Failure{QStringLiteral("would overwrite the source image %1").arg(relative)};
    return {};
}

void BatchTally::Count(const ImageResult& result)
{
    ++(result.Written ? Written : result.UpToDate ? UpToDate : Failed);
}

QString BatchTally::CompletionCaption(int total) const
{
    return pixquill::CompletionCaption(Written, total, UpToDate);
}

QString BatchTally::StoppedCaption(int total) const
{
    return pixquill::StoppedCaption(Handled(), total, Written, UpToDate);
}

QString CompletionCaption(int written, int total, int upToDate)
{
    QString caption = QStringLiteral("Completed %1 of %2 images").arg(written).arg(total);
    const int failed = total - written - upToDate;
    if (failed > 0 && upToDate > 0)
        caption += QStringLiteral(" (%1 failed, %2 up to date)").arg(failed).arg(upToDate);
    else if (failed > 0)
        caption += QStringLiteral(" (%1 failed)").arg(failed);
    else if (upToDate > 0)
        caption += QStringLiteral(" (%1 up to date)").arg(upToDate);
    return caption;
}

QString StoppedCaption(int handled, int total, int written, int upToDate)
{
    QString caption =
        QStringLiteral("Stopped after %1 of %2 images (%3 written").arg(handled).arg(total).arg(written);
    if (const int failed = handled - written - upToDate; failed > 0)
        caption += QStringLiteral(", %1 failed").arg(failed);
    if (upToDate > 0)
        caption += QStringLiteral(", %1 up to date").arg(upToDate);
    return caption + QLatin1Char(')');
}

QString FailureReport(const std::vector<ImageResult>& results)
{
    QStringList lines;
    for (const ImageResult& result : results) {
        if (const QString shared = SharedNameLine(result); !shared.isEmpty())
            lines.append(shared);
        else if (!result.Written && !IsShadowed(result))
            lines.append(result.Name + QStringLiteral(": ") + result.Reason);
    }
    return lines.join(QLatin1Char('\n'));
}

void MarkSharedNames(std::vector<ImageResult>& results)
{
    QHash<QString, std::vector<ImageResult*>> byOutput;
    QStringList outputs;
    for (ImageResult& result : results) {
        if (!result.Written)
            continue; // failed on its own, or up to date: not in the file
        if (!byOutput.contains(result.OutputPath))
            outputs.append(result.OutputPath);
        byOutput[result.OutputPath].push_back(&result);
    }
    for (const QString& output : outputs) {
        const std::vector<ImageResult*>& written = byOutput[output];
        if (written.size() < 2)
            continue;
        ImageResult& shown = *written.back();
        const QString file = QFileInfo(output).fileName();
        for (ImageResult* result : written) {
            result->ShownBy = shown.Name;
            shown.SharedBy.append(result->Name);
            if (result == &shown)
                continue;
            result->Written = false;
            result->Reason = QStringLiteral("its thumbnail %1 shows %2, whose thumbnail has the same name")
                                 .arg(file, shown.Name);
            result->ThumbnailBytes = -1;
            result->ThumbnailWidth = 0;
            result->ThumbnailHeight = 0;
        }
    }
}

QString SharedNameLine(const ImageResult& result)
{
    if (result.SharedBy.size() < 2)
        return {};
    QStringList names = result.SharedBy;
    const QString last = names.takeLast();
    return QStringLiteral("%1 and %2 share the thumbnail %3; it shows %4")
        .arg(names.join(QStringLiteral(", ")), last, QFileInfo(result.OutputPath).fileName(), result.ShownBy);
}

bool IsShadowed(const ImageResult& result)
{
    return !result.Written && !result.ShownBy.isEmpty() && result.ShownBy != result.Name;
}

} // namespace pixquill
