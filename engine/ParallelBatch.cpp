#include "engine/ParallelBatch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include <QHash>

#include "codec/Surface.h"

namespace pixquill {

std::vector<std::vector<int>> GroupByOutputName(const QStringList& names,
                                                const JobSettings& settings)
{
    std::vector<std::vector<int>> groups;
    QHash<QString, std::size_t> groupOf;
    for (int i = 0; i < names.size(); ++i) {
        const QString output = BuildImageNames(names[i], settings).OutputPath;
        const auto found = groupOf.constFind(output);
        if (found == groupOf.cend()) {
            groupOf.insert(output, groups.size());
            groups.push_back({i});
        } else {
            groups[*found].push_back(i);
        }
    }
    return groups;
}

ParallelBatchResult RunParallelBatch(const QStringList& names, const JobSettings& settings,
                                     int jobs, const ParallelProgress& progress,
                                     const WorkerCommand& workers)
{
    const std::vector<std::vector<int>> groups = GroupByOutputName(names, settings);
    const QSet<QString> listedNames(names.begin(), names.end());
    const int total = static_cast<int>(names.size());

    ParallelBatchResult batch;
    batch.Results.resize(names.size());

    std::mutex mutex;
    std::condition_variable finished;
    std::deque<int> done; // indices finished but not yet reported
    std::atomic<std::size_t> nextGroup{0};
    std::atomic<int> endedBadly{0};

    // FreeImage initialised itself once, when its shared library was loaded,
    // before any worker exists; the workers only load, convert, rescale and
    // save bitmaps of their own.
    auto runGroups = [&](const std::function<ImageResult(const QString&)>& process) {
        for (std::size_t g = nextGroup++; g < groups.size(); g = nextGroup++) {
            for (int index : groups[g]) {
                ImageResult result = process(names[index]);
                std::lock_guard lock(mutex);
                batch.Results[static_cast<std::size_t>(index)] = std::move(result);
                done.push_back(index);
                finished.notify_one();
            }
        }
    };
    auto worker = [&]() {
        if (workers.IsSet()) {
            // The process, started on the first image, belongs to this thread.
            WorkerProcess process(workers, WorkerJob{settings, listedNames});
            runGroups([&process](const QString& name) { return process.Process(name); });
            if (!process.Finish())
                ++endedBadly;
            return;
        }
        // Each worker draws on surfaces of its own; nothing else is shared.
        Surface picLoad;
        Surface picThumb;
        runGroups([&](const QString& name) {
            return ProcessImage(name, settings, picLoad, picThumb, listedNames);
        });
    };

    const int workerCount =
        std::max(1, std::min(jobs, static_cast<int>(std::max<std::size_t>(groups.size(), 1))));
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(workerCount));
    for (int t = 0; t < workerCount; ++t)
        threads.emplace_back(worker);

    int reported = 0;
    while (reported < total) {
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return !done.empty(); });
        std::deque<int> ready;
        ready.swap(done);
        lock.unlock();
        for (int index : ready) {
            ++reported;
            // Written by its worker before the index was queued, under the lock.
            const ImageResult& result = batch.Results[static_cast<std::size_t>(index)];
            if (progress)
                progress(result, reported, total);
        }
    }
    for (std::thread& thread : threads)
        thread.join();

    for (const ImageResult& result : batch.Results)
        (result.Written ? batch.Written : batch.Failed)++;
    batch.WorkersEndedBadly = endedBadly;
    return batch;
}

} // namespace pixquill
