#pragma once

// One image of a batch, made the same way whichever front end runs it: in a
// decode worker process when there is a worker command, so that a file that
// crashes or hangs the decoder costs only itself; otherwise by ProcessImage
// on the caller's own pair of surfaces. A worker is sent the listed names
// once per run and the settings only when they change, so an image costs the
// same whether 10 or 100,000 names are listed.
//
// Also loads a file for a look at it (a window's preview): decoded once, in
// the worker when there is one, whose picture comes back over the pipe.

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include <QSet>
#include <QString>

#include "codec/MFreeImage_2.h"
#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"
#include "engine/RenderThumbnail.h"
#include "engine/WorkerProcess.h"

namespace pixquill {

class Surface;

// Owned and used by one thread at a time; it makes no use of an event loop.
class ImageStep {
public:
    // How an image is made in this process.
    using LocalStep = std::function<MadeImage(const QString& name, const JobSettings& settings,
                                              const QSet<QString>& listedNames)>;

    // Makes the images with ProcessImage on picLoad and picThumb, which must
    // outlive the step.
    ImageStep(Surface& picLoad, Surface& picThumb, RenderOps& ops = RenderOps::Default());
    // Makes the images with local (a stand-in that watches a run, in tests).
    explicit ImageStep(LocalStep local);
    ~ImageStep();

    ImageStep(const ImageStep&) = delete;
    ImageStep& operator=(const ImageStep&) = delete;

    // From now on the images go to a decode worker started with command,
    // when it is first needed; an empty command goes back to this process.
    // The worker in use before, if any, leaves.
    void SetWorker(const WorkerCommand& command);
    bool HasWorker() const { return m_worker != nullptr; }
    // What of its lock-down the worker said held (WorkerProcess::Sandbox).
    std::optional<SandboxState> WorkerSandbox() const
    {
        return m_worker ? m_worker->Sandbox() : std::nullopt;
    }

    // See WorkerProcess::SetStopNow; without a worker it is not looked at.
    void SetStopNow(const std::atomic<bool>* stopNow);

    // The names of the run about to start: no output may replace one of them
    // (in the source folder). Kept for the whole run.
    void BeginRun(QSet<QString> listedNames);

    // One image under the settings given, its file kept under its temporary
    // name for CommitImage.
    MadeImage Make(const QString& name, const JobSettings& settings);

    // The picture of the file at path, decoded by the worker, or without a
    // worker by LoadImageToSurface into scratch here. SourceWidth and
    // SourceHeight of the result give the loaded size. A worker's glance of
    // a large picture goes to onGlance first (WorkerProcess::Look).
    LookedPicture Look(const QString& path, Surface& scratch, const WorkerProcess::GlanceHandler& onGlance = {});

    // Lets a worker leave and waits for it: false when it did not end
    // cleanly (see WorkerProcess::Finish). True without a worker.
    bool Finish();

private:
    LocalStep m_local;
    QSet<QString> m_listedNames;
    std::unique_ptr<WorkerProcess> m_worker;
    const std::atomic<bool>* m_stopNow = nullptr;
};

} // namespace pixquill
