#include "engine/WorkerProcess.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <csignal>
#include <optional>

#include <pthread.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include "codec/MFreeImage_2.h"
#include "engine/ImageNames.h"

namespace pixquill {

namespace {

// How long an idle worker gets to leave after its input closes.
constexpr int kLeaveMs = 10000;

// How often a wait for a reply looks at the stop-now flag.
constexpr int kStopNowPollMs = 100;

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
    return clean;
}

bool WorkerProcess::Start()
{
    ++m_starts;
    m_buffer.clear();
    m_process = std::make_unique<QProcess>();
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
        return false;
    }
    m_pid = m_process->processId();
    m_process->write(PackFrame(WorkerMessage::Job, EncodeJob(m_job)));
    return true;
}

void WorkerProcess::Bury(const QString& outputPath)
{
    if (m_process->state() != QProcess::NotRunning)
        m_process->kill();
    m_process->waitForFinished(-1);
    m_process.reset();
    m_buffer.clear();
    if (outputPath.isEmpty())
        return; // a probe writes nothing

    // A worker that died inside a save left its temporary file; the names
    // carry its process id, so files other workers are writing are spared.
    const QDir folder = QFileInfo(outputPath).absoluteDir();
    const QString pattern = SaveTemporaryPrefix(m_pid) + QStringLiteral("*.tmp");
    for (const QString& name : folder.entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(folder.filePath(name));
}

ImageResult WorkerProcess::Process(const QString& name)
{
    const ImageNames names = BuildImageNames(name, m_job.Settings);
    ImageResult failed{name, names.OutputPath, false, {}};
    if (const QFileInfo source(names.SourcePath); source.isFile())
        failed.SourceBytes = source.size();
    return Exchange(WorkerMessage::Image, name, std::move(failed));
}

ImageResult WorkerProcess::Probe(const QString& path)
{
    return Exchange(WorkerMessage::Probe, path, ImageResult{path, QString(), false, {}});
}

LookedPicture WorkerProcess::Look(const QString& path)
{
    LookedPicture looked;
    looked.Result = Exchange(WorkerMessage::Look, path, ImageResult{path, QString(), false, {}}, &looked.Picture);
    return looked;
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

ImageResult WorkerProcess::Exchange(WorkerMessage kind, const QString& argument, ImageResult failed,
                                    QImage* picture)
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

    m_process->write(PackFrame(kind, EncodeImageName(argument)));
    if (m_process->bytesToWrite() > 0)
        m_process->waitForBytesWritten(msLeft());

    // Read until one whole frame is there. After the worker is gone, what it
    // wrote before it went is still looked at once.
    bool alive = true;
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

    const WorkerMessage expected = picture ? WorkerMessage::Picture : WorkerMessage::Result;
    if (status == FrameStatus::Complete && frame.Kind == expected && !picture) {
        std::optional<ImageResult> result = DecodeResult(frame.Payload);
        if (result && result->Name == argument)
            return std::move(*result);
    } else if (status == FrameStatus::Complete && frame.Kind == expected) {
        std::optional<LookedPicture> looked = DecodePicture(frame.Payload);
        frame.Payload.clear();
        if (looked && looked->Result.Name == argument && looked->Result.Written != looked->Picture.isNull()) {
            *picture = std::move(looked->Picture);
            return std::move(looked->Result);
        }
    }
    Bury(failed.OutputPath);
    return fail(QString::fromLatin1(kDecoderCrashed));
}

} // namespace pixquill
