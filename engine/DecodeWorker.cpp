#include "engine/DecodeWorker.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <new>
#include <optional>

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mman.h>
#include <sys/prctl.h>
#endif
#include <sys/resource.h>

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>

#include "codec/ColourProfile.h"
#include "codec/HandedFiles.h"
#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "engine/BatchRules.h"
#include "engine/Handover.h"
#include "engine/ImageNames.h"
#include "engine/MemoryBudget.h"
#include "engine/OutputSizes.h"
#include "engine/ProcessImage.h"
#include "engine/SharedPicture.h"
#include "engine/WorkerProtocol.h"
#include "engine/WorkerSandbox.h"

namespace pixquill {

namespace {

bool WriteAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

// The next frame from fd; nullopt at the end of input or on a broken stream
// (ended says which).
std::optional<WorkerFrame> ReadFrame(int fd, QByteArray& buffer, bool& ended)
{
    ended = false;
    WorkerFrame frame;
    for (;;) {
        switch (TakeFrame(buffer, frame)) {
        case FrameStatus::Complete:
            return frame;
        case FrameStatus::Malformed:
            return std::nullopt;
        case FrameStatus::Incomplete:
            break;
        }
        char chunk[64 * 1024];
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) {
            ended = buffer.isEmpty();
            return std::nullopt;
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        buffer.append(chunk, static_cast<qsizetype>(n));
    }
}

// Some decoders' libraries (libjxl, dav1d, libde265) write their complaints
// about a damaged file straight to the standard error, with no way to turn
// that off. In a worker it goes to an anonymous file instead, emptied before
// each image, and what it holds becomes part of the reason of a failure.
class LibraryStderr {
public:
    LibraryStderr()
    {
#ifdef __linux__
        m_fd = ::memfd_create("pixquill-worker-stderr", MFD_CLOEXEC);
#endif
        if (m_fd < 0) {
            FILE* file = std::tmpfile();
            m_fd = file ? ::dup(::fileno(file)) : -1;
            if (file)
                std::fclose(file);
        }
        if (m_fd >= 0 && ::dup2(m_fd, STDERR_FILENO) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    void Clear()
    {
        if (m_fd >= 0 && ::ftruncate(STDERR_FILENO, 0) == 0)
            ::lseek(STDERR_FILENO, 0, SEEK_SET);
    }

    // The first thing written since Clear, where a library's trail of
    // messages starts with the cause; its source location left out.
    QString Taken() const
    {
        if (m_fd < 0)
            return {};
        char text[512];
        const ssize_t n = ::pread(STDERR_FILENO, text, sizeof text, 0);
        if (n <= 0)
            return {};
        const QStringList lines = QString::fromUtf8(text, static_cast<qsizetype>(n)).split(QLatin1Char('\n'));
        for (const QString& line : lines) {
            static const QRegularExpression location(QStringLiteral("^\\S+:\\d+: "));
            const QString words = line.trimmed().remove(location);
            if (!words.isEmpty())
                return words;
        }
        return {};
    }

private:
    int m_fd = -1;
};

// Takes the files the batch hands over for the request in hand: one message
// on the channel per request, with the outputs expected (none for a look).
// False when the channel is broken.
bool TakeHandover(int channel, const QString& sourcePath, const QStringList& outputPaths)
{
    std::optional<Handover> handover = ReceiveHandover(channel);
    QStringList handed;
    if (handover) {
        for (const HandedOutput& output : handover->Outputs)
            handed.append(output.Target);
    }
    if (!handover || handover->SourcePath != sourcePath || handed != outputPaths) {
        if (handover)
            handover->CloseAll();
        return false;
    }
    HandOverSource(QFile::encodeName(handover->SourcePath), handover->SourceFd, handover->SourceError);
    HandOverOutputs(handover->Outputs);
    HandOverReplacesChecks(handover->Outputs);
    return true;
}

// The libraries' words for a reason: " [their words]", or nothing.
// "not enough memory for the decoder (its limit is 5 GB)"
QString OutOfMemoryReason()
{
    QString reason = QStringLiteral("not enough memory for the decoder");
    if (rlimit limit{}; ::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        reason += QStringLiteral(" (its limit is %1)").arg(MemoryText(limit.rlim_cur));
    return reason;
}

QString LibraryWords(const LibraryStderr& captured)
{
    const QString words = captured.Taken();
    return words.isEmpty() ? QString() : QStringLiteral(" [") + words + QLatin1Char(']');
}

// A Look: the file loaded into the load surface and handed back whole, so
// that the window decodes nothing itself. SourceWidth and SourceHeight give
// the loaded size, also when the picture had to be reduced to travel. An
// 8-bit picture comes back in its file's colours with the profile still to
// be applied (`profile`), so that its glance can be converted on its own,
// before the whole picture is (ConvertLookedPicture).
LookedPicture LookAt(const QString& path, Surface& picLoad, const LibraryStderr& libraryStderr, QByteArray& profile)
{
    ThumbnailRequest request;
    request.ColourAfterReduction = true;
    const ThumbnailLoad loaded = LoadImageForThumbnail(path, picLoad, request);
    LookedPicture looked{ImageResult{path, QString(), loaded.ok, {}}, QImage()};
    if (!loaded.ok) {
        looked.Result.Reason = loaded.error + LibraryWords(libraryStderr);
        return looked;
    }
    profile = loaded.ColourProfile;
    looked.Result.SourceWidth = picLoad.Image().width();
    looked.Result.SourceHeight = picLoad.Image().height();
    looked.Picture = picLoad.Image();
    while (qint64(looked.Picture.width()) * looked.Picture.height() > kMaxLookedPixels)
        looked.Picture = looked.Picture.scaled(looked.Picture.size() / 2, Qt::IgnoreAspectRatio,
                                               Qt::SmoothTransformation);
    return looked;
}

// A smaller picture the file holds (a HEIF or AVIF thumbnail item) as a
// glance, decoded before the whole picture, so that the preview box is drawn
// from it at once, as a thumbnail would be; null where the file holds none.
// Nothing of the whole picture is decoded for it.
QImage QuickGlance(const QString& path, Surface& scratch, QSize& whole)
{
    ThumbnailRequest request;
    request.OnlySmaller = true;
    // Any item of at least 128 pixels a side serves; the window decides
    // whether it has enough pixels for its box.
    request.SizeFor = [](int width, int height) {
        return QSize(width, height).scaled(64, 64, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    };
    const ThumbnailLoad loaded = LoadImageForThumbnail(path, scratch, request);
    if (!loaded.ok || !loaded.Reduced)
        return {};
    whole = QSize(loaded.FullWidth, loaded.FullHeight);
    const QImage glance = Glance(scratch.Image());
    return glance.isNull() ? scratch.Image().copy() : glance;
}

// The looked picture in sRGB: converted where it lies, on the load surface
// itself when it is the surface's picture, so that no copy is made.
void ConvertLookedPicture(LookedPicture& looked, Surface& picLoad, const QByteArray& profile)
{
    if (profile.isEmpty())
        return;
    if (looked.Picture.constBits() == picLoad.Image().constBits()) {
        looked.Picture = QImage();
        ConvertPictureToSrgb(picLoad.Image(), profile);
        looked.Picture = picLoad.Image();
        return;
    }
    ConvertPictureToSrgb(looked.Picture, profile);
}

// The memory file a Look's picture goes back in, with the sizes its answer
// gives; nothing where no memory file can be made (a failed load, or a
// system without them), and the pixels then travel in the answer itself.
std::optional<SharedPictureHandover> SharePicture(const QString& path, const QImage& picture,
                                                  const DecodeWorkerHooks& hooks)
{
    SharedPictureHandover handover;
    if (hooks.TakeOverLook && hooks.TakeOverLook(path, picture, handover))
        return handover;
    const Outcome<int> fd = MakeSharedPicture(picture);
    if (!fd)
        return std::nullopt;
    return SharedPictureHandover{picture.width(), picture.height(), *fd};
}

} // namespace

int RunDecodeWorker(const DecodeWorkerHooks& hooks)
{
#ifdef __linux__
    // Started deaf to Ctrl+C (WorkerCommand::IgnoreInterrupts), a worker
    // stuck in a decoder could only be ended by its batch: it goes with the
    // thread that started it. Had that thread gone already, the input is
    // closed and the loop below ends at once.
    sigset_t blocked;
    if (pthread_sigmask(SIG_BLOCK, nullptr, &blocked) == 0 && sigismember(&blocked, SIGINT) == 1)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    const int replyFd = ::dup(STDOUT_FILENO);
    if (replyFd < 0)
        return kWorkerBroken;
#ifdef __linux__
    // A preview's picture is tens of megabytes: a larger pipe means fewer
    // turns between the two processes. Refused beyond the system's limit,
    // which leaves the pipe as it was.
    ::fcntl(replyFd, F_SETPIPE_SZ, 1 << 20);
#endif
    LibraryStderr libraryStderr;
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return kWorkerBroken;

    // Locked down before the first request, and so before any image: what
    // the libraries load on first use is loaded now, and from here on the
    // files come from the batch (HandedFiles).
    // What did not hold goes to the batch before anything else, which says
    // it: a worker never runs unconfined without a word.
    SandboxState sandbox;
    if (hooks.LockDown) {
        PrepareLibrariesForSandbox();
        sandbox = LockDownWorker();
    } else {
        sandbox.Missing = QStringLiteral("not asked for");
        sandbox.Deliberate = true;
    }
    if (!WriteAll(replyFd, PackFrame(WorkerMessage::Sandbox, EncodeSandbox(sandbox))))
        return kWorkerBroken;
    HandFilesOver();
    int channel = -1;

    QByteArray buffer;
    std::optional<WorkerJob> job;
    // One pair of surfaces for the worker's whole life, as a worker thread has.
    Surface picLoad;
    Surface picThumb;
    // A Look: the path, once its source is taken over and the
    // hook has seen it; nothing when the request cannot be trusted.
    const auto beginLoad = [&](const QByteArray& payload) -> std::optional<QString> {
        std::optional<QString> path = DecodeImageName(payload);
        if (!path || !TakeHandover(channel, *path, {}))
            return std::nullopt;
        if (hooks.BeforeFile)
            hooks.BeforeFile(QFileInfo(*path).fileName(), nullptr);
        libraryStderr.Clear();
        return path;
    };
    picLoad.SetScratch(true);
    for (;;) {
        bool ended = false;
        const std::optional<WorkerFrame> frame = ReadFrame(STDIN_FILENO, buffer, ended);
        if (!frame)
            return ended ? kWorkerDone : kWorkerBroken;
        switch (frame->Kind) {
        case WorkerMessage::Channel: {
            const std::optional<int> fd = DecodeChannel(frame->Payload);
            if (!fd || channel >= 0)
                return kWorkerBroken;
            channel = *fd;
            break;
        }
        case WorkerMessage::Job:
            job = DecodeJob(frame->Payload);
            if (!job)
                return kWorkerBroken;
            break;
        case WorkerMessage::Settings: {
            std::optional<JobSettings> settings = DecodeSettings(frame->Payload);
            if (!job || !settings)
                return kWorkerBroken;
            job->Settings = std::move(*settings);
            break;
        }
        case WorkerMessage::Image: {
            const std::optional<QString> name = DecodeImageName(frame->Payload);
            if (!job || !name)
                return kWorkerBroken;
            const ImageNames names = BuildImageNames(*name, job->Settings);
            QStringList outputs;
            for (const OutputSize& size : OutputSizesOf(job->Settings))
                outputs.append(NamesForSize(names, size).OutputPath);
            if (!TakeHandover(channel, names.SourcePath, outputs))
                return kWorkerBroken;
            if (hooks.BeforeFile)
                hooks.BeforeFile(*name, &job->Settings);
            libraryStderr.Clear();
            std::vector<ImageResult> results;
            try {
                if (QString intruded = hooks.TakeOver ? hooks.TakeOver(*name, job->Settings) : QString();
                    !intruded.isEmpty()) {
                    for (const QString& output : outputs)
                        results.push_back(ImageResult{*name, output, false, intruded});
                } else {
                    results = ProcessImageSizes(*name, job->Settings, picLoad, picThumb, job->ListedNames,
                                                RenderOps::Default(), nullptr);
                }
            } catch (const std::bad_alloc&) {
                // An image larger than its estimate, stopped by the address-space
                // limit the run gave this worker: that image fails, the worker
                // goes on.
                results.clear();
                for (const QString& output : outputs)
                    results.push_back(ImageResult{*name, output, false, OutOfMemoryReason()});
            }
            ReleaseLargePicture(picLoad);
            ReleaseLargePicture(picThumb);
            const QString words = LibraryWords(libraryStderr);
            for (ImageResult& result : results) {
                if (!result.Written && !result.UpToDate)
                    result.Reason += words;
            }
            if (!WriteAll(replyFd, PackFrame(WorkerMessage::Result, EncodeResults(results))))
                return kWorkerBroken;
            break;
        }
        case WorkerMessage::Look: {
            const std::optional<QString> path = beginLoad(frame->Payload);
            if (!path)
                return kWorkerBroken;
            QSize whole;
            if (const QImage quick = QuickGlance(*path, picLoad, whole); !quick.isNull()) {
                ImageResult glanced{*path, QString(), true, {}};
                glanced.SourceWidth = whole.width();
                glanced.SourceHeight = whole.height();
                if (!WriteAll(replyFd, PackFrame(WorkerMessage::Glance, EncodePicture({glanced, quick}))))
                    return kWorkerBroken;
            }
            QByteArray profile;
            LookedPicture looked = LookAt(*path, picLoad, libraryStderr, profile);
            // A large picture's glance first (unless the file's own smaller
            // picture went already): the window can draw its preview from it
            // while the whole picture is still being converted and handed
            // over.
            if (QImage glance = looked.Result.Written && whole.isEmpty() ? Glance(looked.Picture) : QImage();
                !glance.isNull()) {
                ConvertPictureToSrgb(glance, profile);
                if (!WriteAll(replyFd, PackFrame(WorkerMessage::Glance, EncodePicture({looked.Result, glance}))))
                    return kWorkerBroken;
            }
            ConvertLookedPicture(looked, picLoad, profile);
            if (const std::optional<SharedPictureHandover> shared =
                    looked.Result.Written ? SharePicture(*path, looked.Picture, hooks) : std::nullopt) {
                const bool sent = shared->Fd < 0 || SendDescriptor(channel, shared->Fd);
                if (shared->Fd >= 0)
                    ::close(shared->Fd);
                const SharedPictureSizes sizes{looked.Result, shared->Width, shared->Height};
                if (!sent || !WriteAll(replyFd, PackFrame(WorkerMessage::SharedPicture, EncodeSharedPicture(sizes))))
                    return kWorkerBroken;
                break;
            }
            const QByteArray payload = EncodePicture(looked);
            // The header alone, then the pixels: no second copy of them.
            if (!WriteAll(replyFd, FrameHeader(WorkerMessage::Picture, static_cast<std::uint32_t>(payload.size())))
                || !WriteAll(replyFd, payload))
                return kWorkerBroken;
            break;
        }
        case WorkerMessage::Result:
        case WorkerMessage::Sandbox:
        case WorkerMessage::Picture:
        case WorkerMessage::SharedPicture:
        case WorkerMessage::Glance:
            return kWorkerBroken;
        }
    }
}

} // namespace pixquill
