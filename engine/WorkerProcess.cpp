#include "engine/WorkerProcess.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <optional>

#include <fcntl.h>
#include <pthread.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "codec/AtomicSave.h"
#include "codec/InputSource.h"
#include "codec/MFreeImage_2.h"
#include "engine/BatchRules.h"
#include "engine/ImageNames.h"
#include "engine/OptionTables.h"
#include "engine/OutputSizes.h"
#include "engine/SharedPicture.h"

namespace pixquill {

namespace {

// How long an idle worker gets to leave after its input closes.
constexpr int kLeaveMs = 10000;

// How often a wait for a reply looks at the stop-now flag.
constexpr int kStopNowPollMs = 100;

// A descriptor closed when it goes out of scope.
class OwnedFd {
public:
    explicit OwnedFd(int fd) : m_fd(fd) {}
    ~OwnedFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

void CloseChannel(int& channel)
{
    if (channel >= 0)
        ::close(channel);
    channel = -1;
}

} // namespace

QString DecoderHungReason(int seconds)
{
    return QStringLiteral("the decoder hung on this file (no answer within %1 s)").arg(seconds);
}

WorkerProcess::WorkerProcess(WorkerCommand command, WorkerJob job)
    : m_command(std::move(command)), m_job(std::move(job))
{
}

WorkerProcess::~WorkerProcess()
{
    Finish();
}

bool WorkerProcess::Finish()
{
    if (!m_process)
        return true;
    // An idle worker ends at the end of its input.
    m_process->closeWriteChannel();
    bool clean = m_process->waitForFinished(kLeaveMs);
    if (!clean) {
        m_process->kill();
        m_process->waitForFinished(-1);
    }
    clean = clean && m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
    m_process.reset();
    CloseChannel(m_channel);
    return clean;
}

bool WorkerProcess::Start()
{
    ++m_starts;
    m_buffer.clear();
    m_sandboxTold = false;
    int channel[2] = {-1, -1};
    if (!MakeHandoverChannel(channel))
        return false;
    const OwnedFd workersEnd(channel[1]);
    m_channel = channel[0];
    m_process = std::make_unique<QProcess>();
    // Only this child keeps its end across exec, under the same number;
    // children other threads start meanwhile do not get it.
    // A worker deaf to Ctrl+C goes with the thread that starts it, from before
    // its first instruction: were that left to the worker, a batch killed
    // while the worker was still starting would leave it to read the request
    // already in its pipe, and a file that hangs the decoder would keep it
    // spinning with no one to end it. A parent gone before the request for
    // that signal took hold is seen by the changed parent.
    m_process->setChildProcessModifier(
        [fd = workersEnd.Get(), goWithParent = m_command.IgnoreInterrupts, parent = ::getpid(),
         addressSpace = m_command.AddressSpaceLimit] {
            ::fcntl(fd, F_SETFD, 0);
            // Never above a hard limit the batch was given itself, which
            // could not be raised.
            if (rlimit limit{}; addressSpace > 0 && ::getrlimit(RLIMIT_AS, &limit) == 0) {
                limit.rlim_cur = limit.rlim_max = std::min<rlim_t>(limit.rlim_max, addressSpace);
                ::setrlimit(RLIMIT_AS, &limit);
            }
#ifdef __linux__
            if (goWithParent && (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent))
                ::_exit(127);
#endif
        });
    // The worker's warnings reach the user as they would from this process.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A child inherits its starting thread's signal mask, and keeps it across
    // exec: with SIGINT and SIGTERM blocked around the start the worker never
    // sees them, from its first instruction on (RunDecodeWorker leaves them
    // blocked). Meanwhile the process's other threads take them. Nothing
    // needs to run in the child between fork and exec for it.
    sigset_t interrupts;
    sigset_t before;
    sigemptyset(&interrupts);
    sigaddset(&interrupts, SIGINT);
    sigaddset(&interrupts, SIGTERM);
    if (m_command.IgnoreInterrupts)
        pthread_sigmask(SIG_BLOCK, &interrupts, &before);
    m_process->start(m_command.Program, m_command.Arguments);
    const bool started = m_process->waitForStarted(-1);
    if (m_command.IgnoreInterrupts)
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (!started) {
        m_process.reset();
        CloseChannel(m_channel);
        return false;
    }
    m_pid = m_process->processId();
    m_process->write(PackFrame(WorkerMessage::Channel, EncodeChannel(workersEnd.Get())));
    m_process->write(PackFrame(WorkerMessage::Job, EncodeJob(m_job)));
    return true;
}

void WorkerProcess::Bury(const QString& outputPath)
{
    if (m_process->state() != QProcess::NotRunning)
        m_process->kill();
    m_process->waitForFinished(-1);
    m_process.reset();
    CloseChannel(m_channel);
    m_buffer.clear();
    if (outputPath.isEmpty())
        return; // a look writes nothing

    // A worker that died inside a save left its temporary file; the names
    // carry its process id, so files other workers are writing are spared.
    const QDir folder = QFileInfo(outputPath).absoluteDir();
    const QString pattern = SaveTemporaryPrefix(m_pid) + QStringLiteral("*.tmp");
    for (const QString& name : folder.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(folder.filePath(name));
}

MadeImage WorkerProcess::Make(const QString& name)
{
    const ImageNames names = BuildImageNames(name, m_job.Settings);
    const std::vector<OutputSize> sizes = OutputSizesOf(m_job.Settings);
    qint64 sourceBytes = -1;
    if (const QFileInfo source(names.SourcePath); source.isFile())
        sourceBytes = source.size();
    std::vector<ImageResult> failed;
    for (const OutputSize& size : sizes) {
        failed.push_back(ImageResult{name, NamesForSize(names, size).OutputPath, false, {}});
        failed.back().Size = size.Box;
        failed.back().SourceBytes = sourceBytes;
    }

    // What the worker would have opened: it meets the same refusals, with the
    // same reasons, where it would have met them.
    Handover handover{names.SourcePath, -1, {}, {}};
    std::int64_t size = 0;
    const OwnedFd source(OpenRegularDescriptor(QFile::encodeName(names.SourcePath), handover.SourceError, size));
    handover.SourceFd = source.Get();
    const bool writes
        = !TrimSetting(m_job.Settings.DestinationFolder).isEmpty() && OutputFormatAt(m_job.Settings.OutputFormat);
    std::vector<std::optional<AtomicSave>> saves(sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        handover.Outputs.push_back(HandedOutput{failed[i].OutputPath, -1, {}});
        // The worker may not look at names: whether the output would replace
        // a source is decided here, and no temporary file is made for one
        // that would.
        if (const Outcome<> spared = CheckReplacesNoSource(NamesForSize(names, sizes[i]), m_job.Settings,
                                                           m_job.ListedNames);
            !spared)
            handover.Outputs[i].ReplacesSource = spared.Reason();
        if (!writes || !handover.Outputs[i].ReplacesSource.isEmpty())
            continue;
        saves[i].emplace(failed[i].OutputPath);
        if (saves[i]->Begin(SaveTemporaryPrefix(QCoreApplication::applicationPid()), handover.Outputs[i].Error))
            handover.Outputs[i].Fd = saves[i]->Descriptor();
    }

    std::vector<ImageResult> results = ExchangeImage(name, handover, std::move(failed));
    std::vector<PendingRename> outputs(results.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        ImageResult& result = results[i];
        // The worker cannot look at the source by its name to give its size.
        result.SourceBytes = sourceBytes;
        if (!result.Written)
            continue;
        // The worker wrote the temporary file in full; putting it in place is
        // this side's, at the image's turn (CommitImage).
        QString why;
        if (saves[i])
            outputs[i] = saves[i]->Keep(why);
        if (!outputs[i].IsSet()) {
            result.Written = false;
            result.Reason = saves[i] ? why : QStringLiteral("could not be written");
            result.ThumbnailBytes = -1;
        } else {
            result.ThumbnailBytes = QFileInfo(outputs[i].Temporary()).size();
        }
    }
    return GatherSizes(std::move(results), std::move(outputs)); // temporary files not kept go with saves
}

std::vector<ImageResult> WorkerProcess::ExchangeImage(const QString& name, const Handover& handover,
                                                      std::vector<ImageResult> failed)
{
    std::vector<ImageResult> results;
    const ImageResult first
        = Exchange(WorkerMessage::Image, name, handover, failed.front(), nullptr, {}, &results);
    // Every box has its answer, in order, or every box shares the failure.
    bool answered = results.size() == failed.size();
    for (std::size_t i = 0; answered && i < results.size(); ++i)
        answered = results[i].Name == name && results[i].OutputPath == failed[i].OutputPath;
    if (answered)
        return results;
    if (!results.empty())
        Bury(failed.front().OutputPath);
    for (ImageResult& result : failed) {
        result.Reason = first.Written || first.Reason.isEmpty() ? QString::fromLatin1(kDecoderCrashed) : first.Reason;
        result.Interrupted = first.Interrupted;
        result.Milliseconds = first.Milliseconds;
    }
    return failed;
}

LookedPicture WorkerProcess::Look(const QString& path, const GlanceHandler& onGlance)
{
    LookedPicture looked;
    looked.Result = LoadRequest(WorkerMessage::Look, path, &looked.Picture, onGlance);
    return looked;
}

ImageResult WorkerProcess::LoadRequest(WorkerMessage kind, const QString& path, QImage* picture,
                                       const GlanceHandler& onGlance)
{
    // Only the source goes over: a file loaded to be looked at writes nothing.
    Handover handover{path, -1, {}, {}};
    std::int64_t size = 0;
    const OwnedFd source(OpenRegularDescriptor(QFile::encodeName(path), handover.SourceError, size));
    handover.SourceFd = source.Get();
    return Exchange(kind, path, handover, ImageResult{path, QString(), false, {}}, picture, onGlance);
}

void WorkerProcess::SetSettings(const JobSettings& settings)
{
    if (settings == m_job.Settings)
        return;
    m_job.Settings = settings;
    SendToRunning(PackFrame(WorkerMessage::Settings, EncodeSettings(m_job.Settings)));
}

void WorkerProcess::SetListedNames(QSet<QString> listedNames)
{
    m_job.ListedNames = std::move(listedNames);
    SendToRunning(PackFrame(WorkerMessage::Job, EncodeJob(m_job)));
}

void WorkerProcess::SendToRunning(const QByteArray& frame)
{
    if (m_process && m_process->state() == QProcess::Running)
        m_process->write(frame);
}

ImageResult WorkerProcess::Exchange(WorkerMessage kind, const QString& argument, const Handover& handover,
                                    ImageResult failed, QImage* picture, const GlanceHandler& onGlance,
                                    std::vector<ImageResult>* results)
{
    QElapsedTimer clock;
    clock.start();
    const auto fail = [&](QString reason) {
        failed.Reason = std::move(reason);
        failed.Milliseconds = clock.elapsed();
        return failed;
    };
    // A worker that died while idle is replaced before it can take the blame.
    if (m_process && m_process->state() != QProcess::Running)
        Bury(failed.OutputPath);
    if (!m_process && !Start())
        return fail(QString::fromLatin1(kDecoderNotStarted));

    const QDeadlineTimer deadline = m_command.TimeoutSeconds > 0
        ? QDeadlineTimer(std::chrono::seconds(m_command.TimeoutSeconds))
        : QDeadlineTimer(QDeadlineTimer::Forever);
    const auto msLeft = [&deadline]() {
        return deadline.isForever()
            ? -1
            : static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, INT_MAX));
    };
    // With a stop-now flag to watch, waits are cut into slices.
    const auto nextWait = [&]() {
        const int left = msLeft();
        if (!m_stopNow)
            return left;
        return left < 0 ? kStopNowPollMs : std::min(left, kStopNowPollMs);
    };

    // The files go first: the worker takes them once it has read the request.
    if (!SendHandover(m_channel, handover)) {
        Bury(failed.OutputPath);
        return fail(QString::fromLatin1(kDecoderCrashed));
    }
    m_process->write(PackFrame(kind, EncodeImageName(argument)));
    if (m_process->bytesToWrite() > 0)
        m_process->waitForBytesWritten(msLeft());

    // Read until one whole frame is there. After the worker is gone, what it
    // wrote before it went is still looked at once.
    bool alive = true;
    bool glanced = false;
    WorkerFrame frame;
    FrameStatus status = FrameStatus::Incomplete;
    for (;;) {
        m_buffer += m_process->readAllStandardOutput();
        // A picture's frame is tens of megabytes: room for all of it at once
        // once its length is known, rather than growing with every read.
        if (m_buffer.size() >= 4 && m_buffer.capacity() < kMaxWorkerFrame) {
            const auto byte = [this](int i) { return std::uint32_t(static_cast<unsigned char>(m_buffer[i])); };
            const std::uint32_t length = (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
            if (length <= kMaxWorkerFrame && m_buffer.capacity() < qsizetype(length) + 5)
                m_buffer.reserve(qsizetype(length) + 5);
        }
        status = TakeFrame(m_buffer, frame);
        if (status == FrameStatus::Complete && frame.Kind == WorkerMessage::Sandbox && TakeSandbox(frame))
            continue;
        // A glance comes before the answer to a Look, at most once.
        if (status == FrameStatus::Complete && picture && frame.Kind == WorkerMessage::Glance && !glanced) {
            std::optional<LookedPicture> glance = DecodePicture(frame.Payload);
            if (!glance || glance->Result.Name != argument || !glance->Result.Written || glance->Picture.isNull())
                break;
            glanced = true;
            if (onGlance)
                onGlance(*glance);
            continue;
        }
        if (status != FrameStatus::Incomplete || !alive)
            break;
        if (m_stopNow && m_stopNow->load()) {
            Bury(failed.OutputPath);
            failed.Interrupted = true;
            return fail(QString::fromLatin1(kDecoderInterrupted));
        }
        if (deadline.hasExpired()) {
            Bury(failed.OutputPath);
            return fail(DecoderHungReason(m_command.TimeoutSeconds));
        }
        // A timed-out wait on a live worker is told apart by its state.
        alive = m_process->waitForReadyRead(nextWait()) || m_process->state() == QProcess::Running;
    }

    const bool complete = status == FrameStatus::Complete;
    if (complete && !picture && frame.Kind == WorkerMessage::Result) {
        std::optional<std::vector<ImageResult>> answer = DecodeResults(frame.Payload);
        if (answer && results) {
            *results = std::move(*answer);
            return results->front();
        }
    } else if (complete && picture && frame.Kind == WorkerMessage::Picture) {
        std::optional<LookedPicture> looked = DecodePicture(frame.Payload);
        frame.Payload.clear();
        if (looked && looked->Result.Name == argument && looked->Result.Written != looked->Picture.isNull()) {
            *picture = std::move(looked->Picture);
            return std::move(looked->Result);
        }
    } else if (complete && picture && frame.Kind == WorkerMessage::SharedPicture) {
        Outcome<LookedPicture> shared = TakeSharedPicture(frame.Payload, argument);
        if (shared) {
            *picture = std::move(shared.Value().Picture);
            return std::move(shared.Value().Result);
        }
        // A worker whose picture cannot be trusted is not trusted again.
        Bury(failed.OutputPath);
        return fail(QString::fromLatin1(kDecoderGarbledPicture) + QStringLiteral(" (") + shared.Reason()
                    + QLatin1Char(')'));
    }
    Bury(failed.OutputPath);
    return fail(QString::fromLatin1(kDecoderCrashed));
}

bool WorkerProcess::TakeSandbox(const WorkerFrame& frame)
{
    // Once, first thing: another one is a worker gone astray.
    if (m_sandboxTold)
        return false;
    m_sandboxTold = true;
    m_sandbox = DecodeSandbox(frame.Payload);
    return m_sandbox.has_value();
}

std::optional<SandboxState> WorkerProcess::AskSandbox(int timeoutMs)
{
    if (m_sandbox || (!m_process && !Start()))
        return m_sandbox;
    QElapsedTimer clock;
    clock.start();
    while (!m_sandboxTold && m_process->state() == QProcess::Running) {
        WorkerFrame frame;
        m_buffer += m_process->readAllStandardOutput();
        if (const FrameStatus status = TakeFrame(m_buffer, frame); status == FrameStatus::Complete) {
            if (frame.Kind != WorkerMessage::Sandbox || !TakeSandbox(frame))
                break;
        } else if (status == FrameStatus::Malformed || clock.hasExpired(timeoutMs)) {
            break;
        } else {
            m_process->waitForReadyRead(static_cast<int>(std::max<qint64>(1, timeoutMs - clock.elapsed())));
        }
    }
    return m_sandbox;
}

Outcome<LookedPicture> WorkerProcess::TakeSharedPicture(const QByteArray& payload, const QString& path)
{
    // The descriptor came before the answer: it is there now, or never.
    const OwnedFd fd(TakeDescriptor(m_channel));
    // One memory file per answer; another one waiting is a worker gone astray.
    if (const OwnedFd extra(TakeDescriptor(m_channel)); extra.Get() >= 0)
        return Failure{QStringLiteral("more than one memory file came with the picture")};
    const std::optional<SharedPictureSizes> sizes = DecodeSharedPicture(payload);
    if (!sizes || sizes->Result.Name != path || !sizes->Result.Written)
        return Failure{QStringLiteral("the answer is garbled")};
    Outcome<QImage> mapped = MapSharedPicture(fd.Get(), sizes->Width, sizes->Height);
    if (!mapped)
        return mapped.Error();
    return LookedPicture{sizes->Result, std::move(mapped).Value()};
}

} // namespace pixquill
