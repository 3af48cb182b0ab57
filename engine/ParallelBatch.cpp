#include "engine/ParallelBatch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include <QFile>
#include <QHash>
#include <QSet>

#include "codec/MFreeImage_2.h"
#include "codec/Surface.h"
#include "engine/BatchRules.h"
#include "engine/ImageStep.h"

namespace pixquill {

namespace {

// How often the calling thread looks at StopNow while it waits for results.
constexpr std::chrono::milliseconds kStopNowPoll{100};

struct FileStamp {
    bool Regular = false;
    std::filesystem::file_time_type Modified;
    qint64 Bytes = -1;
};

FileStamp StampOf(const QString& path)
{
    const std::filesystem::path file(QFile::encodeName(path).toStdString());
    std::error_code error;
    FileStamp stamp;
    stamp.Regular = std::filesystem::is_regular_file(file, error);
    if (!stamp.Regular)
        return stamp;
    stamp.Modified = std::filesystem::last_write_time(file, error);
    if (error) {
        stamp.Regular = false;
        return stamp;
    }
    const std::uintmax_t bytes = std::filesystem::file_size(file, error);
    if (!error)
        stamp.Bytes = static_cast<qint64>(bytes);
    return stamp;
}

// The results for a group whose output is newer than every one of its
// sources, or nothing when it has to be made again. A source that cannot be
// looked at is made again, so that its failure is reported.
std::optional<std::vector<ImageResult>> UpToDateResults(const std::vector<int>& group,
                                                        const QStringList& names,
                                                        const JobSettings& settings,
                                                        const QSet<QString>& listedNames)
{
    const QString outputPath = BuildImageNames(names[group.front()], settings).OutputPath;
    const FileStamp output = StampOf(outputPath);
    if (!output.Regular)
        return std::nullopt;
    // An output that is itself an image of the list is no thumbnail:
    // ProcessImage refuses to replace it and says so.
    if (!CheckReplacesNoSource(BuildImageNames(names[group.front()], settings), settings, listedNames))
        return std::nullopt;
    std::vector<ImageResult> results;
    for (int index : group) {
        const FileStamp source = StampOf(BuildImageNames(names[index], settings).SourcePath);
        // Equal times (a coarse clock, a copy that kept them) are not newer.
        if (!source.Regular || !(output.Modified > source.Modified))
            return std::nullopt;
        ImageResult result{names[index], outputPath, false, QStringLiteral("up to date")};
        result.UpToDate = true;
        result.SourceBytes = source.Bytes;
        result.ThumbnailBytes = output.Bytes;
        results.push_back(std::move(result));
    }
    return results;
}

// What the worker threads and the calling thread share. Held through a
// shared_ptr so that threads left running by an abandoned batch keep it alive.
struct Shared {
    Shared(const QStringList& names, const JobSettings& settings, const ParallelBatchOptions& options)
        : Names(names), Settings(settings), Options(options),
          Groups(GroupByOutputName(names, settings)), ListedNames(names.begin(), names.end())
    {
    }

    const QStringList Names;
    const JobSettings Settings;
    const ParallelBatchOptions Options;
    const std::vector<std::vector<int>> Groups;
    const QSet<QString> ListedNames;

    std::mutex Mutex;
    std::condition_variable Finished;
    std::deque<std::pair<int, ImageResult>> Done; // finished, not yet reported
    int Running = 0;                              // worker threads not yet ended
    std::atomic<std::size_t> NextGroup{0};
    std::atomic<int> EndedBadly{0};

    bool Stopping() const { return Options.Stop && Options.Stop->load(); }
    bool StoppingNow() const { return Options.StopNow && Options.StopNow->load(); }

    void Report(int index, ImageResult result)
    {
        std::lock_guard lock(Mutex);
        Done.emplace_back(index, std::move(result));
        Finished.notify_one();
    }

    // FreeImage initialised itself once, when its shared library was loaded,
    // before any worker exists; the workers only load, convert, rescale and
    // save bitmaps of their own.
    // The output folder of a name from a folder tree is made here, in the
    // batch's own process, before the image goes to a decode worker: the
    // workers only write into folders that exist. madeFolder: the last
    // folder this thread made or found, so that the images of one folder
    // cost one look.
    Outcome<> MakeOutputFolder(const QString& name, QString& madeFolder) const
    {
        const QString folder = name.left(name.lastIndexOf(QLatin1Char('/')) + 1);
        if (folder.isEmpty() || folder == madeFolder)
            return {};
        if (const Outcome<> made = PrepareOutputFolder(name, Settings); !made)
            return made;
        madeFolder = folder;
        return {};
    }

    void RunGroups(const std::function<ImageResult(const QString&)>& process)
    {
        QString madeFolder;
        for (std::size_t g = NextGroup++; g < Groups.size(); g = NextGroup++) {
            if (Stopping())
                return;
            const std::vector<int>& group = Groups[g];
            if (Options.SkipUpToDate) {
                if (auto skipped = UpToDateResults(group, Names, Settings, ListedNames)) {
                    for (std::size_t i = 0; i < group.size(); ++i)
                        Report(group[i], std::move((*skipped)[i]));
                    continue;
                }
            }
            // A group shares one output, so one folder.
            if (const Outcome<> made = MakeOutputFolder(Names[group.front()], madeFolder); !made) {
                for (int index : group) {
                    const ImageNames paths = BuildImageNames(Names[index], Settings);
                    ImageResult failed{Names[index], paths.OutputPath, false, made.Reason()};
                    failed.SourceBytes = StampOf(paths.SourcePath).Bytes;
                    Report(index, std::move(failed));
                }
                continue;
            }
            // A group is finished even after a Stop: its output then holds
            // the last image of the group, as a full run leaves it.
            for (int index : group) {
                if (StoppingNow())
                    return;
                ImageResult result = process(Names[index]);
                if (result.Interrupted)
                    return;
                Report(index, std::move(result));
            }
        }
    }

    void RunWorker()
    {
        // Each worker thread draws on surfaces of its own, or feeds a decode
        // worker process of its own (started on the first image); nothing
        // else is shared.
        Surface picLoad;
        Surface picThumb;
        picLoad.SetScratch(true);
        ImageStep step(picLoad, picThumb);
        step.SetWorker(Options.Workers);
        step.SetStopNow(Options.StopNow);
        step.BeginRun(ListedNames);
        RunGroups([&](const QString& name) { return step.Process(name, Settings); });
        if (!step.Finish())
            ++EndedBadly;
    }
};

} // namespace

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

QStringList ShareOfList(const QStringList& names, const JobSettings& settings, int share, int shares)
{
    const std::vector<std::vector<int>> groups = GroupByOutputName(names, settings);
    std::vector<bool> taken(static_cast<std::size_t>(names.size()), false);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (shares > 0 && static_cast<int>(g % static_cast<std::size_t>(shares)) == share - 1) {
            for (int index : groups[g])
                taken[static_cast<std::size_t>(index)] = true;
        }
    }
    QStringList result;
    for (int i = 0; i < names.size(); ++i) {
        if (taken[static_cast<std::size_t>(i)])
            result.append(names[i]);
    }
    return result;
}

ParallelBatchResult RunParallelBatch(const QStringList& names, const JobSettings& settings,
                                     int jobs, const ParallelProgress& progress,
                                     const WorkerCommand& workers)
{
    ParallelBatchOptions options;
    options.Workers = workers;
    return RunParallelBatch(names, settings, jobs, progress, options);
}

ParallelBatchResult RunParallelBatch(const QStringList& names, const JobSettings& settings,
                                     int jobs, const ParallelProgress& progress,
                                     const ParallelBatchOptions& options)
{
    const auto shared = std::make_shared<Shared>(names, settings, options);
    const int total = static_cast<int>(names.size());

    ParallelBatchResult batch;
    batch.Results.resize(names.size());

    const int workerCount = std::max(
        1, std::min(jobs, static_cast<int>(std::max<std::size_t>(shared->Groups.size(), 1))));
    shared->Running = workerCount;
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(workerCount));
    for (int t = 0; t < workerCount; ++t) {
        threads.emplace_back([shared] {
            shared->RunWorker();
            std::lock_guard lock(shared->Mutex);
            --shared->Running;
            shared->Finished.notify_one();
        });
    }

    // Without workers a StopNow cannot reach a thread inside the image
    // library, so the calling thread watches for it.
    const bool watchStopNow = options.StopNow && !options.Workers.IsSet();
    std::unique_lock lock(shared->Mutex);
    for (;;) {
        const auto ready = [&] { return !shared->Done.empty() || shared->Running == 0; };
        if (watchStopNow)
            shared->Finished.wait_for(lock, kStopNowPoll, ready);
        else
            shared->Finished.wait(lock, ready);
        std::deque<std::pair<int, ImageResult>> finished;
        finished.swap(shared->Done);
        const bool allEnded = shared->Running == 0;
        lock.unlock();
        for (auto& [index, result] : finished) {
            ImageResult& kept = batch.Results[static_cast<std::size_t>(index)];
            kept = std::move(result);
            batch.Tally.Count(kept);
            if (progress)
                progress(kept, batch.Tally.Handled(), total);
        }
        if (allEnded)
            break;
        if (watchStopNow && options.StopNow->load()) {
            RefuseFurtherSaves();
            for (std::thread& thread : threads)
                thread.detach();
            batch.Abandoned = true;
            return batch;
        }
        lock.lock();
    }
    for (std::thread& thread : threads)
        thread.join();
    batch.WorkersEndedBadly = shared->EndedBadly;
    return batch;
}

} // namespace pixquill
