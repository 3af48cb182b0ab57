#include "tests/fuzz/FuzzCase.h"

#include "engine/OptionTables.h"

namespace pixquill::fuzz {

FuzzInput SplitFuzzInput(const QByteArray& data)
{
    const qsizetype end = data.indexOf('\n');
    if (end > 0 && end <= 8) {
        const QByteArray extension = data.left(end);
        bool plain = true;
        for (const char c : extension)
            plain = plain && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'));
        if (plain)
            return {QString::fromLatin1(extension), data.mid(end + 1)};
    }
    return {QStringLiteral("img"), data};
}

JobSettings FuzzJob(const QString& sourceFolder, const QString& destinationFolder, qint64 size)
{
    JobSettings job;
    job.SourceFolder = sourceFolder;
    job.DestinationFolder = destinationFolder;
    job.Prefix = QStringLiteral("out-");
    job.WidthText = QStringLiteral("48");
    job.HeightText = QStringLiteral("40");
    job.ResizeMode = kResizeMaintainAspect;
    job.OutputFormat = static_cast<int>(size % 7);
    job.ResampleFilter = static_cast<int>((size / 7) % 7); // 0..5 FreeImage's, 6 the area average
    return job;
}

} // namespace pixquill::fuzz
