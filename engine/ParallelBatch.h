#pragma once

// A batch spread over worker threads, each with its own load and thumbnail
// surfaces, for the command line and the benchmarks. Every image goes
// through the same ProcessImage as in a window's run, so each output file is
// byte for byte what a one-at-a-time run writes: images that share an output
// name are handled by one worker in list order, so the later one wins.
//
// Given a worker command, each worker thread instead hands its images to a
// decode worker process of its own (ImageStep), so that a crash inside
// FreeImage costs the run only the file in hand: it is reported as "the
// decoder crashed on this file" and the next image goes to a fresh process.

#include <atomic>
#include <functional>
#include <vector>

#include <QStringList>

#include "engine/BatchRules.h"
#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"
#include "engine/WorkerProcess.h"

namespace pixquill {

struct ParallelBatchResult {
    // In list order. An image the batch did not reach (it was stopped) has
    // an empty Name.
    std::vector<ImageResult> Results;
    // Its Handled() is below the number of names when stopped.
    BatchTally Tally;
    // Decode worker processes that did not end cleanly when the batch let
    // them go (a nonzero status: in a sanitizer build, a leak report).
    int WorkersEndedBadly = 0;
    // Ended at once without decode workers: threads still busy in the image
    // library were left running with every further save refused
    // (RefuseFurtherSaves); the caller must end the process without
    // unwinding (std::_Exit), as the library is still in use.
    bool Abandoned = false;
};

// Called on the calling thread, once per finished image, in the order the
// images finish: (the result, how many are done, how many there are).
using ParallelProgress = std::function<void(const ImageResult& result, int done, int total)>;

struct ParallelBatchOptions {
    // Empty: the images are decoded on this process's threads.
    WorkerCommand Workers;
    // An image whose output file is newer than its source is not made again
    // (UpToDate). Images sharing an output name count as one: all of them
    // are skipped when the output is newer than each of their sources, and
    // otherwise all are made again in list order, as a full run would.
    bool SkipUpToDate = false;
    // Both may be set from a signal handler and are only read. Stop: take no
    // further images; the images in hand (and the rest of a group sharing
    // their output name) are finished and reported. StopNow: decode workers
    // busy on an image are killed and their temporary files removed, those
    // images not being reported; without workers, see Abandoned.
    const std::atomic<bool>* Stop = nullptr;
    const std::atomic<bool>* StopNow = nullptr;
};

// The settings are fixed for the whole batch. jobs below 1 counts as 1. The
// destination folder must exist. Blocks until every image is handled or the
// batch is stopped.
ParallelBatchResult RunParallelBatch(const QStringList& names, const JobSettings& settings,
                                     int jobs, const ParallelProgress& progress,
                                     const ParallelBatchOptions& options);

// The same with only a worker command (empty: decode in this process).
ParallelBatchResult RunParallelBatch(const QStringList& names, const JobSettings& settings,
                                     int jobs, const ParallelProgress& progress = {},
                                     const WorkerCommand& workers = {});

// The images grouped by output name: group order and order within a group
// follow the list. Exposed for tests.
std::vector<std::vector<int>> GroupByOutputName(const QStringList& names,
                                                const JobSettings& settings);

// Share `share` (1..shares) of the list, for running one batch as several
// (on several machines): whole groups of GroupByOutputName, dealt out in
// turn, each share keeping list order. The shares of one list and one set of
// settings never have an output name in common and together hold every name
// once.
QStringList ShareOfList(const QStringList& names, const JobSettings& settings, int share, int shares);

} // namespace pixquill
