#pragma once

// A batch spread over worker threads, each with its own load and thumbnail
// surfaces, for the command line and the benchmarks. Every image goes
// through the same ProcessImage as in a window's run, so each output file is
// byte for byte what a one-at-a-time run writes: images that share an output
// name are handled by one worker in list order, so the later one wins.
//
// Given a worker command, each worker thread instead hands its images to a
// decode worker process of its own (WorkerProcess), so that a crash inside
// FreeImage costs the run only the file in hand: it is reported as "the
// decoder crashed on this file" and the next image goes to a fresh process.

#include <functional>
#include <vector>

#include <QStringList>

#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"
#include "engine/WorkerProcess.h"

namespace pixquill {

struct ParallelBatchResult {
    std::vector<ImageResult> Results; // in list order
    int Written = 0;
    int Failed = 0;
    // Decode worker processes that did not end cleanly when the batch let
    // them go (a nonzero status: in a sanitizer build, a leak report).
    int WorkersEndedBadly = 0;
};

// Called on the calling thread, once per finished image, in the order the
// images finish: (the result, how many are done, how many there are).
using ParallelProgress = std::function<void(const ImageResult& result, int done, int total)>;

// The settings are fixed for the whole batch. jobs below 1 counts as 1. The
// destination folder must exist. Blocks until every image is handled. With
// an empty worker command the images are decoded on this process's threads.
ParallelBatchResult RunParallelBatch(const QStringList& names, const JobSettings& settings,
                                     int jobs, const ParallelProgress& progress = {},
                                     const WorkerCommand& workers = {});

// The images grouped by output name: group order and order within a group
// follow the list. Exposed for tests.
std::vector<std::vector<int>> GroupByOutputName(const QStringList& names,
                                                const JobSettings& settings);

} // namespace pixquill
