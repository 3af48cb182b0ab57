#pragma once

// One decode worker process as a batch's worker thread sees it: started on
// first use, fed one file name at a time, and started afresh after it dies.
// The worker opens no file by name: this side opens the source of each
// request and creates the temporary file of its save, hands both over
// (Handover), and renames the temporary file into place once the worker has
// written it, or removes it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include <QString>
#include <QStringList>

#include "codec/Outcome.h"
#include "engine/Handover.h"
#include "engine/ProcessImage.h"
#include "engine/WorkerProtocol.h"

class QProcess;

namespace pixquill {

// How to start a decode worker: a program that, given these arguments, runs
// RunDecodeWorker. An empty program means no worker process at all.
struct WorkerCommand {
    QString Program;
    QStringList Arguments;
    // How long one image may take before the worker is taken for hung,
    // stopped and the file reported; 0 waits for ever. Some broken files
    // send FreeImage's readers into endless loops.
    int TimeoutSeconds = 0;
    // The worker is started with SIGINT and SIGTERM blocked, so it never
    // sees them. A terminal's Ctrl+C reaches every process of its group: a
    // batch that ends after the images in hand needs its workers to finish
    // them; a worker still ends at the end of its input, and is killed when
    // it must go at once. Such a worker also dies with the thread that
    // started it, on Linux (see RunDecodeWorker), so that one stuck in a
    // decoder cannot outlive a batch killed outright.
    bool IgnoreInterrupts = false;
    // The worker's address-space limit in bytes (RLIMIT_AS), set before it
    // starts; 0 for none. An allocation beyond it fails in the worker, which
    // then fails the image in hand ("not enough memory ...").
    std::uint64_t AddressSpaceLimit = 0;

    bool IsSet() const { return !Program.isEmpty(); }
};

// Reasons given for an image whose worker did not answer.
inline constexpr char kDecoderCrashed[] = "the decoder crashed on this file";
inline constexpr char kDecoderNotStarted[] = "the decoder could not be started";
inline constexpr char kDecoderInterrupted[] = "the run was ended while this file was in hand";
// "the decoder sent back a picture that cannot be shown (WHY)"
inline constexpr char kDecoderGarbledPicture[] = "the decoder sent back a picture that cannot be shown";
// "the decoder hung on this file (no answer within N s)"
QString DecoderHungReason(int seconds);

// Owned and used by one thread (it makes no use of an event loop). Not
// copyable; the process ends with the object.
class WorkerProcess {
public:
    WorkerProcess(WorkerCommand command, WorkerJob job);
    ~WorkerProcess();

    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;

    // The worker's results for the image (one per box), exactly as
    // ProcessImageSizes in this process would give them, their files kept under its temporary name for
    // CommitImage; or, when the worker dies (or garbles its reply)
    // on it, an unwritten result with kDecoderCrashed; one that takes longer
    // than the command's timeout is stopped (DecoderHungReason). A worker that
    // cannot be started gives kDecoderNotStarted. Every call after a death
    // starts a new worker, so one bad file costs only itself.
    MadeImage Make(const QString& name);

    // Loads the file at path in the worker and hands back the loaded picture
    // (null unless Written), so that the caller decodes nothing itself: on
    // Linux mapped from the worker's sealed memory file, not copied. Written
    // in the result means loaded; Name is the path. A dead worker gives
    // kDecoderCrashed, a slow one DecoderHungReason, as for Process; a picture that cannot be mapped as its answer says (a
    // memory file missing, unsealed or of another size) fails with
    // kDecoderGarbledPicture and the reason, and the worker is replaced.
    // A large picture's glance (WorkerProtocol's Glance: the full picture's
    // result, the picture made small) goes to onGlance, when given, as soon as
    // it comes, before the whole picture.
    using GlanceHandler = std::function<void(const LookedPicture& glance)>;
    LookedPicture Look(const QString& path, const GlanceHandler& onGlance = {});

    // While *stopNow is true (it may be set from a signal handler), a wait
    // for a reply ends within 100 ms: the worker is killed, its temporary
    // files are removed, and the image comes back Interrupted, not handled.
    // Null (the default) never stops.
    void SetStopNow(const std::atomic<bool>* stopNow) { m_stopNow = stopNow; }

    // The settings for the images that follow: a window reads its settings
    // afresh for every image. Sent to a running worker only when they
    // changed, and without the listed names.
    void SetSettings(const JobSettings& settings);

    // The listed names of a new run (the names no output may replace). Sent
    // to a running worker at once, with the settings; once per run, since a
    // list of 100,000 names takes a while to send.
    void SetListedNames(QSet<QString> listedNames);

    // Lets the worker in use leave (it ends at the end of its input) and
    // waits for it. False when it did not end cleanly: a nonzero status,
    // for instance the sanitizers' report of a leak, or no leaving in time.
    // True when no worker is running. The destructor does the same.
    bool Finish();

    // What of its lock-down held, as the worker in use told it first thing
    // (each worker tells its own: the last one started); nothing before a
    // worker has answered. With a timeout, a worker is started if none is
    // running and its word waited for that long: for a front end that wants
    // to know without making an image.
    const std::optional<SandboxState>& Sandbox() const { return m_sandbox; }
    std::optional<SandboxState> AskSandbox(int timeoutMs);

    // The running worker's process id (0 before the first start).
    qint64 ProcessId() const { return m_pid; }

    // How many workers were started so far (the first one included).
    int Starts() const { return m_starts; }

private:
    bool Start();
    // A Look of the file at path, its source handed over.
    ImageResult LoadRequest(WorkerMessage kind, const QString& path, QImage* picture,
                            const GlanceHandler& onGlance = {});
    // Hands the files over, sends one request and waits for its answer: an
    // Image's Result (its results, one per box, put into *results and the
    // first given), a Look's Picture (put into *picture, its Name the
    // argument); failed is what to give when none comes.
    ImageResult Exchange(WorkerMessage kind, const QString& argument, const Handover& handover,
                         ImageResult failed, QImage* picture = nullptr, const GlanceHandler& onGlance = {},
                         std::vector<ImageResult>* results = nullptr);
    // An Image's results, one per box of failed (what to give when there is
    // no trustworthy answer: every box then fails with the same reason).
    std::vector<ImageResult> ExchangeImage(const QString& name, const Handover& handover,
                                           std::vector<ImageResult> failed);
    // The picture of a SharedPicture answer to the Look of path, mapped from
    // the memory file that came with it, or why it cannot be shown.
    Outcome<LookedPicture> TakeSharedPicture(const QByteArray& payload, const QString& path);
    // Takes a worker's Sandbox frame; false for a second one or a garbled one.
    bool TakeSandbox(const WorkerFrame& frame);
    // Ends a dead or garbling worker and removes the temporary files it left
    // in the folder of outputPath.
    void Bury(const QString& outputPath);

    // Sends frame when a worker is running; one started later is sent the
    // whole job by Start().
    void SendToRunning(const QByteArray& frame);

    WorkerCommand m_command;
    WorkerJob m_job;
    std::unique_ptr<QProcess> m_process;
    int m_channel = -1; // this side of the running worker's handover channel
    qint64 m_pid = 0;
    QByteArray m_buffer;
    int m_starts = 0;
    const std::atomic<bool>* m_stopNow = nullptr;
    std::optional<SandboxState> m_sandbox;
    bool m_sandboxTold = false; // by the running worker
};

} // namespace pixquill
