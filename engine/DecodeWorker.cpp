#include "engine/DecodeWorker.h"

#include <cerrno>
#include <csignal>
#include <optional>

#include <pthread.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <QFileInfo>

#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "engine/ProcessImage.h"
#include "engine/WorkerProtocol.h"

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
    if (replyFd < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return kWorkerBroken;

    QByteArray buffer;
    std::optional<WorkerJob> job;
    // One pair of surfaces for the worker's whole life, as a worker thread has.
    Surface picLoad;
    Surface picThumb;
    picLoad.SetScratch(true);
    for (;;) {
        bool ended = false;
        const std::optional<WorkerFrame> frame = ReadFrame(STDIN_FILENO, buffer, ended);
        if (!frame)
            return ended ? kWorkerDone : kWorkerBroken;
        switch (frame->Kind) {
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
            if (hooks.BeforeFile)
                hooks.BeforeFile(*name, &job->Settings);
            const ImageResult result =
                ProcessImage(*name, job->Settings, picLoad, picThumb, job->ListedNames);
            if (!WriteAll(replyFd, PackFrame(WorkerMessage::Result, EncodeResult(result))))
                return kWorkerBroken;
            break;
        }
        case WorkerMessage::Probe: {
            const std::optional<QString> path = DecodeImageName(frame->Payload);
            if (!path)
                return kWorkerBroken;
            if (hooks.BeforeFile)
                hooks.BeforeFile(QFileInfo(*path).fileName(), nullptr);
            const LoadResult loaded = LoadImageToSurface(*path, picLoad);
            const ImageResult result{*path, QString(), loaded.ok, loaded.error};
            if (!WriteAll(replyFd, PackFrame(WorkerMessage::Result, EncodeResult(result))))
                return kWorkerBroken;
            break;
        }
        case WorkerMessage::Result:
            return kWorkerBroken;
        }
    }
}

} // namespace pixquill
