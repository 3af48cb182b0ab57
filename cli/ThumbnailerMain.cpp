// pixquill-thumbnailer: the desktop's thumbnailer (see DesktopThumbnail.h).

#include <cstdio>

#include <QFile>
#include <QStringList>

#include "cli/DesktopThumbnail.h"

namespace {

void PrintLine(FILE* stream, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

// No QCoreApplication: nothing here needs an event loop, and the decoding
// child is forked while this process still has its one thread.
int main(int argc, char** argv)
{
    using namespace pixquill;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QFile::decodeName(argv[i]);
    const Outcome<ThumbnailerCall> call = ReadThumbnailerArguments(arguments);
    if (!call) {
        PrintLine(stderr, QStringLiteral("pixquill-thumbnailer: %1 (--help for usage)\n").arg(call.Reason()));
        return kThumbnailerUsage;
    }
    if (call->Help) {
        PrintLine(stdout, ThumbnailerUsage());
        return kThumbnailerWritten;
    }
    if (call->Version) {
        PrintLine(stdout, QStringLiteral("pixquill-thumbnailer " PIXQUILL_VERSION "\n"));
        return kThumbnailerWritten;
    }
    const Outcome<QSize> made = MakeDesktopThumbnail(*call);
    if (!made) {
        // One line, whatever the name or the reason held: file managers log
        // it as it is.
        QString line = QStringLiteral("pixquill-thumbnailer: %1: %2").arg(call->Input, made.Reason());
        line.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
        PrintLine(stderr, line + QLatin1Char('\n'));
        return kThumbnailerFailed;
    }
    return kThumbnailerWritten;
}
