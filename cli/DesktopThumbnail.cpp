#include "cli/DesktopThumbnail.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <QUrl>

#include "codec/AtomicSave.h"
#include "codec/ColourProfile.h"
#include "codec/HandedFiles.h"
#include "codec/InputSource.h"
#include "codec/MFreeImage_2.h"
#include "codec/OutputFormats.h"
#include "codec/Surface.h"
#include "codec/SystemError.h"
#include "engine/JobSettings.h"
#include "engine/RenderThumbnail.h"
#include "engine/ThumbnailSize.h"
#include "engine/WorkerSandbox.h"

namespace pixquill {

namespace {

Failure Usage(QString reason)
{
    return Failure{std::move(reason), kThumbnailerUsage};
}

Outcome<QString> LocalInput(const QString& argument)
{
    // %u hands a URI, %i a path; a path may well contain a colon.
    if (!argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive))
        return argument;
    QUrl url(argument, QUrl::StrictMode);
    if (url.host().compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        url.setHost(QString());
    const QString path = url.isValid() && url.isLocalFile() && url.host().isEmpty() ? url.toLocalFile() : QString();
    if (!path.startsWith(QLatin1Char('/')))
        return Usage(QStringLiteral("not a local file: %1").arg(argument));
    return path;
}

const OutputFormatEntry& PngFormat()
{
    for (const OutputFormatEntry& format : OutputFormats())
        if (qstrcmp(format.Name, "png") == 0)
            return format;
    Q_UNREACHABLE();
}

// What the child tells the parent through the pipe: "W H" when written,
// otherwise the reason.
constexpr char kChildWritten = 'W';
constexpr char kChildFailed = 'F';

void WriteAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += n;
    }
}

// The layers this kernel offers that did not take hold, empty when the
// lock-down holds; where the kernel (or an outer sandbox) offers none, the
// child decodes as a decode worker would, behind the guards alone.
QStringList LayersNotHeld(const SandboxState& offered, const SandboxState& held)
{
    QStringList missing;
    if (offered.Deliberate)
        return missing;
    if (!held.NoNewPrivileges)
        missing << QStringLiteral("no new privileges");
    if (offered.Seccomp && !held.Seccomp)
        missing << QStringLiteral("seccomp");
    if (offered.LandlockAbi > 0 && held.LandlockAbi == 0)
        missing << QStringLiteral("Landlock");
    if (offered.NoCapabilities && !held.NoCapabilities)
        missing << QStringLiteral("dropping capabilities");
    return missing;
}

[[noreturn]] void RunChild(const ThumbnailerCall& call, int sourceFd, int outputFd, int reply)
{
    // The libraries' complaints about a damaged file would make the one line
    // a file manager logs several; the reason carries what they say that
    // matters.
    if (const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC); quiet >= 0) {
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
        ::close(quiet);
    }
    // A decoder that crashes on a hostile file leaves no core file behind
    // in whatever folder the file manager runs this in.
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    const QByteArray sourceName = QFile::encodeName(call.Input);
    HandFilesOver();
    HandOverSource(sourceName, sourceFd, {});
    HandOverOutput(call.Output, outputFd, {});

    const SandboxState offered = AvailableSandbox();
    PrepareLibrariesForSandbox();
    const SandboxState held = LockDownWorker();
    QByteArray message;
    if (const QStringList missing = LayersNotHeld(offered, held); !missing.isEmpty()) {
        message = kChildFailed + QByteArrayLiteral("the decoder could not be locked down (")
            + missing.join(QStringLiteral(", ")).toUtf8() + QByteArrayLiteral(" refused)");
    } else if (const Outcome<QSize> drawn = DrawDesktopThumbnail(call.Input, call.Output, call.Size); drawn) {
        message = kChildWritten + QByteArray::number(drawn->width()) + ' ' + QByteArray::number(drawn->height());
    } else {
        message = kChildFailed + drawn.Reason().toUtf8();
    }
    WriteAll(reply, message);
    // Nothing of the parent's (its temporary file's owner above all) may be
    // torn down here.
    ::_exit(message.startsWith(kChildWritten) ? 0 : 1);
}

// Reads the child's answer until it closes its end or the time is up.
// Nothing when the time ran out.
std::optional<QByteArray> ReadAnswer(int fd, int milliseconds)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    QByteArray answer;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return std::nullopt;
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            return std::nullopt;
        char chunk[512];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return answer;
        // A reason is one line; a child that sends more is not believed.
        if (answer.size() < 4096)
            answer.append(chunk, static_cast<qsizetype>(n));
    }
}

int WaitForChild(pid_t child)
{
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    return status;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return m_fd; }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

} // namespace

QString ThumbnailerUsage()
{
    return QStringLiteral(
               "Usage: pixquill-thumbnailer [-s SIZE] INPUT OUTPUT\n"
               "Writes OUTPUT as a PNG thumbnail of INPUT (a path or a file:// URI) whose\n"
               "longer side is SIZE pixels (default %1; a smaller image keeps its size),\n"
               "upright and in sRGB. A file manager runs it through pixquill.thumbnailer.\n"
               "On failure nothing is written at OUTPUT, one line on standard error says\n"
               "why, and the exit status is %2 (%3 for wrong arguments).\n")
        .arg(kDefaultDesktopThumbnailSize)
        .arg(kThumbnailerFailed)
        .arg(kThumbnailerUsage);
}

Outcome<ThumbnailerCall> ReadThumbnailerArguments(const QStringList& arguments)
{
    ThumbnailerCall call;
    QStringList files;
    bool sized = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            call.Help = true;
            return call;
        }
        if (argument == QLatin1String("--version")) {
            call.Version = true;
            return call;
        }
        if (argument == QLatin1String("-s") || argument == QLatin1String("--size")) {
            if (sized)
                return Usage(QStringLiteral("the size is given twice"));
            if (++i == arguments.size())
                return Usage(QStringLiteral("%1 needs a size").arg(argument));
            bool number = false;
            call.Size = arguments[i].toInt(&number);
            if (!number || call.Size < 1 || call.Size > kMaxDesktopThumbnailSize)
                return Usage(QStringLiteral("the size must be a whole number from 1 to %1, not \"%2\"")
                                 .arg(kMaxDesktopThumbnailSize)
                                 .arg(arguments[i]));
            sized = true;
            continue;
        }
        if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1)
            return Usage(QStringLiteral("unknown option %1").arg(argument));
        files << argument;
    }
    if (files.size() != 2)
        return Usage(QStringLiteral("give one INPUT and one OUTPUT"));
    if (files[0].isEmpty() || files[1].isEmpty())
        return Usage(QStringLiteral("an empty file name"));
    const Outcome<QString> input = LocalInput(files[0]);
    if (!input)
        return input.Error();
    call.Input = *input;
    call.Output = files[1];
    return call;
}

QSize DesktopThumbnailSize(QSize full, int size)
{
    if (full.width() <= size && full.height() <= size)
        return full;
    // The batch's own rule for keeping the aspect inside a box, so the
    // sides round as its thumbnails' do.
    const auto width = static_cast<float>(full.width());
    const auto height = static_cast<float>(full.height());
    const ThumbnailSize fitted = ComputeThumbnailSize(kResizeMaintainAspect, {width, height, width, height}, size, size);
    return {std::max(fitted.Width, 1), std::max(fitted.Height, 1)};
}

Outcome<QSize> DrawDesktopThumbnail(const QString& input, const QString& output, int size)
{
    Surface picLoad;
    Surface picThumb;
    ThumbnailRequest request;
    // The decoders hand out a smaller picture the file holds when it is at
    // least twice the size they are told, so that a batch's thumbnails lose
    // nothing to it. An icon in a file manager is served by any picture at
    // least its own size, and the cheapest one matters most there (a phone's
    // 320 x 240 HEIC thumbnail for 256 pixels, rather than 12 megapixels of
    // HEVC): they are told half, rounded up, never less than one pixel.
    request.SizeFor = [size](int fullWidth, int fullHeight) {
        const QSize wanted = DesktopThumbnailSize(QSize(fullWidth, fullHeight), size);
        return QSize(std::max(1, (wanted.width() + 1) / 2), std::max(1, (wanted.height() + 1) / 2));
    };
    // So does a JPEG decoded at 1/2 to 1/8, on the same rule.
    request.ReducedScale = true;
    request.ColourAfterReduction = true;
    const ThumbnailLoad loaded = LoadImageForThumbnail(input, picLoad, request);
    if (!loaded.ok)
        return Failure{loaded.error.isEmpty() ? QStringLiteral("cannot be read") : loaded.error};

    const QSize picture = picLoad.Image().size();
    const QSize target = DesktopThumbnailSize(loaded.Reduced ? QSize(loaded.FullWidth, loaded.FullHeight) : picture, size);
    const RenderResult rendered
        = DrawThumbnail(picLoad, picThumb, {target.width(), target.height()}, JobSettings{}.ResampleFilter);
    if (!rendered.Drawn)
        return Failure{QStringLiteral("the thumbnail could not be drawn")};
    // An 8-bit picture was drawn in its file's colours: the thumbnail alone
    // is converted.
    ConvertPictureToSrgb(picThumb.Image(), loaded.ColourProfile);

    QString reason;
    if (SaveThumbnail(picThumb, output, PngFormat(), &reason) != kSaveWritten)
        return Failure{reason.isEmpty() ? QStringLiteral("could not be written") : reason};
    return target;
}

int DesktopThumbnailMilliseconds(std::int64_t fileBytes)
{
    constexpr std::int64_t kBase = 10000;
    constexpr std::int64_t kBytesPerMillisecond = 4 * 1024; // 4 MiB a second
    constexpr std::int64_t kMost = 60000;
    return static_cast<int>(std::min(kMost, kBase + std::max<std::int64_t>(fileBytes, 0) / kBytesPerMillisecond));
}

Outcome<QSize> MakeDesktopThumbnail(const ThumbnailerCall& call)
{
    QString why;
    std::int64_t bytes = 0;
    Descriptor source(OpenRegularDescriptor(QFile::encodeName(call.Input), why, bytes));
    if (source.Get() < 0)
        return Failure{why};
    AtomicSave save(call.Output);
    if (!save.Begin(SaveTemporaryPrefix(::getpid()), why))
        return Failure{why};

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return Failure{QStringLiteral("cannot start the decoder (%1)").arg(SystemError(errno))};
    Descriptor answerEnd(pipeEnds[0]);
    Descriptor replyEnd(pipeEnds[1]);
    // The child's own copies, which HandedFiles takes over.
    const int childSource = ::fcntl(source.Get(), F_DUPFD_CLOEXEC, 0);
    const int childOutput = ::fcntl(save.Descriptor(), F_DUPFD_CLOEXEC, 0);
    if (childSource < 0 || childOutput < 0) {
        const QString system = SystemError(errno);
        if (childSource >= 0)
            ::close(childSource);
        if (childOutput >= 0)
            ::close(childOutput);
        return Failure{QStringLiteral("cannot start the decoder (%1)").arg(system)};
    }

    const pid_t child = ::fork();
    if (child == 0)
        RunChild(call, childSource, childOutput, replyEnd.Get());
    const int forkError = errno;
    ::close(childSource);
    ::close(childOutput);
    replyEnd.Close();
    if (child < 0)
        return Failure{QStringLiteral("cannot start the decoder (%1)").arg(SystemError(forkError))};

    const int allowed = DesktopThumbnailMilliseconds(bytes);
    const std::optional<QByteArray> answer = ReadAnswer(answerEnd.Get(), allowed);
    if (!answer)
        ::kill(child, SIGKILL);
    const int status = WaitForChild(child);
    if (!answer)
        return Failure{QStringLiteral("the decoder hung on this file (no answer within %1 s)")
                           .arg(QString::number(allowed / 1000.0, 'f', 1))};
    if (status < 0 || !WIFEXITED(status) || answer->isEmpty())
        return Failure{QStringLiteral("the decoder crashed on this file")};
    if (answer->front() != kChildWritten || WEXITSTATUS(status) != 0) {
        const QString reason = QString::fromUtf8(answer->mid(1)).simplified();
        return Failure{reason.isEmpty() ? QStringLiteral("cannot be read") : reason};
    }
    const QList<QByteArray> sides = answer->mid(1).split(' ');
    const QSize size = sides.size() == 2 ? QSize(sides[0].toInt(), sides[1].toInt()) : QSize();
    if (size.isEmpty())
        return Failure{QStringLiteral("the decoder crashed on this file")};
    if (!save.Commit(why))
        return Failure{why};
    return size;
}

} // namespace pixquill
