#pragma once

// The batch run behind Start and Stop: one image after another, settings read
// afresh for every image, progress and a yield to the owner's event loop
// after each, a cooperative stop checked after each.

#include <functional>
#include <memory>
#include <vector>

#include <QString>
#include <QStringList>

#include "engine/ImageStep.h"
#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"

namespace pixquill {

// What the owner wants to hear about. Every member may be empty. A callback
// may call Stop(), Abandon() or even destroy the BatchRun; the run notices on
// return and then touches nothing of the owner's any more.
struct BatchCallbacks {
    std::function<void(int value, int max)> Progress; // (0, n) at Start and at the end, (i, n) after image i
    std::function<void(const QString& caption)> Caption;
    std::function<void()> Yield;     // let the owner's event loop run (Stop arrives here)
    std::function<void()> Completed; // the run went through its whole list
};

enum class BatchOutcome {
    Completed, // every image was handled (written or not)
    Stopped,   // Stop ended it after the image in hand
    Refused,   // nothing was done: already running, or no usable destination
    Abandoned, // the owner ended it from outside; nothing was touched afterwards
};

class BatchRun {
public:
    // Every image of a run goes through step (shared with the owner, who may
    // also load previews through it between two images).
    BatchRun(BatchSettings& settings, std::shared_ptr<ImageStep> step, BatchCallbacks callbacks = {});
    ~BatchRun(); // ends a run in progress as Abandon() does

    BatchRun(const BatchRun&) = delete;
    BatchRun& operator=(const BatchRun&) = delete;

    // Runs the whole list (file names without folder, in list order) and
    // returns when it is done, stopped or abandoned. Creates the destination
    // folder (one level) when missing (PrepareDestination). Refused while a
    // run is in progress, and without a usable destination (the caption says
    // why). The list is the run's own from here on (see WorkList).
    BatchOutcome Start(QStringList workList);

    // Ends the run after the image in hand and drops the work list; the
    // caption keeps its "Processing i of n" and no completion follows. Does
    // nothing when idle, so no stale request waits for the next Start.
    void Stop();

    // For an owner that goes away (a window closing): the run ends after the
    // image in hand without calling back or touching the owner's settings or
    // surfaces again, and the work list is dropped. The object may be reused
    // or destroyed afterwards.
    void Abandon();

    bool IsRunning() const;
    // The names the run in progress works through; empty when idle, and once
    // Stop or Abandon has dropped them. The run reads its list only here, and
    // only after checking for a stop, so a dropped list is never read.
    const QStringList& WorkList() const;
    // Stop was pressed and the run has not reached its check yet.
    bool StopRequested() const;
    // What the counter label shows: "Processing i of n", the completion
    // caption, or the reason a Start was refused. Empty before the first run.
    QString Caption() const;
    // The images handled so far by the current or last run, in list order.
    const std::vector<ImageResult>& Results() const;
    int WrittenCount() const;
    int FailedCount() const;
    // "NAME: reason" for every image not written, one per line.
    QString FailureReport() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
    BatchSettings& m_settings;
    std::shared_ptr<ImageStep> m_step;
    BatchCallbacks m_callbacks;
};

} // namespace pixquill
