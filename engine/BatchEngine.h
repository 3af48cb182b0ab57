#pragma once

// The one batch run behind both front ends. It works on the thread that calls
// RunBatch (the command line's main thread, a window's run thread) and makes
// up to `Jobs` images at once on threads of its own, each with its own pair
// of surfaces or its own decode worker process, starting them in list order
// and keeping a few made ahead. Results are committed strictly in list order:
// image k's file is renamed into place, counted and reported only after
// image k - 1's, so a run looks exactly like one image after another.
//
// Image k is made with the settings current when image k - 1 was committed
// (at Start for the first). An image made ahead with older ones is made
// again at its turn, so a change made during a run applies from the next
// image and costs nothing when nothing changes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <QStringList>

#include "engine/BatchRules.h"
#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"
#include "engine/WorkerProcess.h"

namespace pixquill {

// How one of the run's threads makes an image under given settings.
using ImageMaker = std::function<MadeImage(const QString& name, const JobSettings& settings)>;

struct BatchPlan {
    QStringList Names; // relative to the source folder, in list order
    // Images in making at once; below 1 counts as 1. With 1 the run makes no
    // image ahead.
    int Jobs = 1;
    // Empty: the images are decoded on this process's threads; otherwise
    // each making thread feeds a decode worker of its own, so that a crash
    // costs only the file in hand.
    WorkerCommand Workers;
    // An image whose output file is newer than its source is not made again
    // (UpToDate). Images sharing an output name count as one: all of them
    // are skipped when the output is newer than each of their sources.
    bool SkipUpToDate = false;
    // Stop (may be set from a signal handler or another thread; only read):
    // the run ends after the image in hand is committed, and images made
    // ahead are dropped with their temporary files. With
    // StopFinishesStarted (the command line's documented Ctrl+C), every image
    // already started is finished and committed instead, and so is the rest
    // of a group sharing an output name with one of them.
    const std::atomic<bool>* Stop = nullptr;
    bool StopFinishesStarted = false;
    // The run ends at once: decode workers busy on an image are killed and
    // their temporary files removed, nothing more is committed. Without
    // decode workers see BatchReport::Abandoned.
    const std::atomic<bool>* StopNow = nullptr;
    // Told once, on the run's thread before the first commit after a decode
    // worker said so, what of its lock-down did not hold, as a line to show
    // (SandboxNote). Not called when all of it held, without workers, or
    // where it is left out on purpose.
    std::function<void(const QString& note)> SandboxNoted;
    // The memory the images in making may take together, in bytes (see
    // MemoryBudget): 0 is half of the memory available as the run starts.
    // Decode workers get it as their address-space limit too.
    std::uint64_t MemoryLimit = 0;
    // Wraps each making thread's own maker (tests watch or hold images here).
    std::function<ImageMaker(ImageMaker)> WrapMaker;
};

struct BatchReport {
    // The images committed, in list order: fewer than the names when the
    // run was stopped.
    std::vector<ImageResult> Results;
    BatchTally Tally; // of Results
    // Ended before its last image by Stop or StopNow.
    bool Stopped = false;
    // Decode worker processes that did not end cleanly when the run let them
    // go (a nonzero status: in a sanitizer build, a leak report).
    int WorkersEndedBadly = 0;
    // What the workers said of their lock-down where it fell short (the line
    // SandboxNoted was given), empty otherwise.
    QString SandboxNote;
    // StopNow without decode workers: threads still busy in the image
    // library were left running with every further save refused
    // (RefuseFurtherSaves); the caller must end the process without
    // unwinding (std::_Exit), as the library is still in use.
    bool Abandoned = false;
};

// Called on the run's thread once per committed image, in list order: (its
// result, how many are committed, how many names there are).
using CommitHandler = std::function<void(const ImageResult& result, int done, int total)>;

// Runs the plan to its end or its stop. The destination folder must exist
// (PrepareDestination); the folders of names from a folder tree are created
// here (PrepareOutputFolder). The snapshot's source folder must not change
// during the run.
BatchReport RunBatch(const BatchPlan& plan, const SettingsSnapshot& settings,
                     const CommitHandler& committed = {});

// The images grouped by output name: group order and order within a group
// follow the list.
std::vector<std::vector<int>> GroupByOutputName(const QStringList& names, const JobSettings& settings);

// Share `share` (1..shares) of the list, for running one batch as several
// (on several machines): whole groups of GroupByOutputName, dealt out in
// turn, each share keeping list order. The shares of one list and one set of
// settings never have an output name in common and together hold every name
// once.
QStringList ShareOfList(const QStringList& names, const JobSettings& settings, int share, int shares);

} // namespace pixquill
