#include "engine/BatchEngine.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include <QFile>
#include <QHash>
#include <QSet>

#include "codec/AtomicSave.h"
#include "codec/MFreeImage_2.h"
#include "codec/MemoryEstimate.h"
#include "codec/Surface.h"
#include "engine/ImageStep.h"
#include "engine/MemoryBudget.h"
#include "engine/OutputSizes.h"

namespace pixquill {

namespace {

// How often the run looks at StopNow while it waits for an image.
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

// The results for a group whose output (of one box) is newer than every one
// of its sources, or nothing when it has to be made again. A source that
// cannot be looked at is made again, so that its failure is reported.
std::optional<std::vector<ImageResult>> UpToDateResults(const std::vector<int>& group, const QStringList& names,
                                                        const JobSettings& settings, const OutputSize& size,
                                                        const QSet<QString>& listedNames)
{
    const ImageNames first = NamesForSize(BuildImageNames(names[group.front()], settings), size);
    const FileStamp output = StampOf(first.OutputPath);
    if (!output.Regular)
        return std::nullopt;
    // An output that is itself an image of the list is no thumbnail:
    // ProcessImage refuses to replace it and says so.
    if (!CheckReplacesNoSource(first, settings, listedNames))
        return std::nullopt;
    std::vector<ImageResult> results;
    for (int index : group) {
        const FileStamp source = StampOf(BuildImageNames(names[index], settings).SourcePath);
        // Equal times (a coarse clock, a copy that kept them) are not newer.
        if (!source.Regular || !(output.Modified > source.Modified))
            return std::nullopt;
        ImageResult result{names[index], first.OutputPath, false, QStringLiteral("up to date")};
        result.UpToDate = true;
        result.Size = size.Box;
        result.SourceBytes = source.Bytes;
        result.ThumbnailBytes = output.Bytes;
        results.push_back(std::move(result));
    }
    return results;
}

// An image waiting for its turn, and the settings version it was made under.
struct Made {
    MadeImage Image;
    quint64 Version = 0;
};

// Where a box's result goes among an image's results: the boxes' order.
std::size_t BoxOrder(const std::vector<OutputSize>& sizes, const ImageResult& result)
{
    const auto found = std::find_if(sizes.begin(), sizes.end(),
                                    [&result](const OutputSize& size) { return size.Box == result.Size; });
    return static_cast<std::size_t>(found - sizes.begin());
}

struct Task {
    int Index = 0;
    SettingsSnapshot::Versioned Settings;
    std::uint64_t Bytes = 0; // its estimated peak, held from its start to its making's end
};

// The plan as the run follows it: the memory limit settled, and the decode
// workers bound by it.
BatchPlan Settled(BatchPlan plan)
{
    if (plan.MemoryLimit == 0)
        plan.MemoryLimit = DefaultMemoryLimit().value_or(0);
    if (plan.MemoryLimit > 0 && plan.Workers.IsSet())
        plan.Workers.AddressSpaceLimit = WorkerAddressSpace(plan.MemoryLimit);
    return plan;
}

// What the run's thread and its making threads share. Held through a
// shared_ptr so that threads left running by an abandoned run keep it alive.
struct Shared {
    Shared(const BatchPlan& plan)
        : Plan(Settled(plan)), Listed(plan.Names.begin(), plan.Names.end()), Budget(Plan.MemoryLimit)
    {
    }

    const BatchPlan Plan;
    const QSet<QString> Listed;

    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<Task> Tasks;
    std::map<int, Made> Done;
    bool Quit = false;
    // Given to the making threads as their stop-now flag: set when the run
    // ends with images still in making, whose workers are then killed and
    // their temporary files removed.
    std::atomic<bool> DropInFlight{false};
    std::atomic<int> EndedBadly{0};
    // The first shortfall of a lock-down a worker told (SandboxNote).
    QString SandboxNoteOf;
    // The estimates of the images in making (under Mutex).
    MemoryBudget Budget;

    void MakingThread()
    {
        // Each making thread draws on surfaces of its own, or feeds a decode
        // worker process of its own (started on its first image).
        Surface picLoad;
        Surface picThumb;
        picLoad.SetScratch(true);
        ImageStep step(picLoad, picThumb);
        step.SetWorker(Plan.Workers);
        step.SetStopNow(&DropInFlight);
        step.BeginRun(Listed);
        ImageMaker maker = [&step](const QString& name, const JobSettings& settings) {
            return step.Make(name, settings);
        };
        if (Plan.WrapMaker)
            maker = Plan.WrapMaker(std::move(maker));
        for (;;) {
            Task task;
            {
                std::unique_lock lock(Mutex);
                Changed.wait(lock, [this] { return Quit || !Tasks.empty(); });
                if (Quit)
                    break;
                task = std::move(Tasks.front());
                Tasks.pop_front();
                // A large image waits here until the images in making
                // leave room for it.
                Changed.wait(lock, [this, &task] { return Quit || Budget.Fits(task.Bytes); });
                if (Quit)
                    break;
                Budget.Take(task.Bytes);
            }
            MadeImage image = maker(Plan.Names[task.Index], task.Settings.Settings);
            ReleaseLargePicture(picLoad);
            ReleaseLargePicture(picThumb);
            const std::optional<SandboxState> sandbox = step.WorkerSandbox();
            const std::lock_guard lock(Mutex);
            Budget.Give(task.Bytes);
            if (sandbox && SandboxNoteOf.isEmpty())
                SandboxNoteOf = SandboxNote(*sandbox);
            Done[task.Index] = Made{std::move(image), task.Settings.Version};
            Changed.notify_all();
        }
        if (!step.Finish())
            ++EndedBadly;
    }
};

// The run's own thread: what is started, what is committed and when.
class Scheduler {
public:
    Scheduler(std::shared_ptr<Shared> shared, const SettingsSnapshot& settings, const CommitHandler& committed)
        : m_shared(std::move(shared))
        , m_plan(m_shared->Plan)
        , m_settings(settings)
        , m_committed(committed)
        , m_total(static_cast<int>(m_plan.Names.size()))
        , m_totalOutputs(m_total * static_cast<int>(OutputSizesOf(m_settings.Current().Settings).size()))
        , m_groupOf(static_cast<std::size_t>(m_total), 0)
        , m_ahead(2 * std::max(1, m_plan.Jobs))
    {
        const SettingsSnapshot::Versioned first = m_settings.Current();
        m_groups = GroupByOutputName(m_plan.Names, first.Settings);
        for (std::size_t g = 0; g < m_groups.size(); ++g) {
            for (int index : m_groups[g])
                m_groupOf[static_cast<std::size_t>(index)] = g;
        }
        m_groupStarted.assign(m_groups.size(), false);
        m_head = first;
        // What a killed run left in the destination goes before this one
        // writes there (the folders of a tree as they are met).
        if (!m_plan.Names.isEmpty())
            RemoveStaleTemporaries(TrimSetting(first.Settings.DestinationFolder));
    }

    BatchReport Run(std::vector<std::thread>& threads)
    {
        while (m_nextCommit < m_total) {
            while (MayStart())
                Start(m_nextStart++, m_settings.Current(), false);
            std::optional<Made> made = WaitForHead();
            if (!made) { // StopNow
                m_report.Stopped = true;
                break;
            }
            if (made->Version != m_head.Version) {
                // Made ahead under settings that changed before its turn.
                Start(m_nextCommit, m_head, true);
                continue;
            }
            if (made->Image.Result.Interrupted) {
                m_report.Stopped = true;
                break;
            }
            std::vector<ImageResult> results = CommitImage(std::move(made->Image));
            // Boxes found up to date were not made: their results join the
            // others in the boxes' order.
            if (const auto kept = m_upToDateBoxes.find(m_nextCommit); kept != m_upToDateBoxes.end()) {
                results.insert(results.end(), kept->second.begin(), kept->second.end());
                m_upToDateBoxes.erase(kept);
                const std::vector<OutputSize> sizes = OutputSizesOf(m_head.Settings);
                std::stable_sort(results.begin(), results.end(), [&sizes](const auto& a, const auto& b) {
                    return BoxOrder(sizes, a) < BoxOrder(sizes, b);
                });
            }
            // Images sharing an output name are reported together once the
            // last of them is in place, each saying which one the file shows.
            const std::size_t group = m_groupOf[static_cast<std::size_t>(m_nextCommit)];
            if (m_groups[group].size() > 1) {
                std::vector<ImageResult>& held = m_heldGroups[group];
                held.insert(held.end(), std::make_move_iterator(results.begin()),
                            std::make_move_iterator(results.end()));
                results.clear();
                if (m_nextCommit == m_groups[group].back())
                    results = ReleaseGroup(group);
            }
            const std::size_t firstNew = m_report.Results.size();
            Report(std::move(results));
            ++m_nextCommit;
            // The next image is in hand from here: its settings are those of
            // now, and a Stop from now on (one pressed on seeing this image
            // reported, say) ends the run after it.
            m_head = m_settings.Current();
            if (StopAsked())
                m_stopping = true;
            const bool stopping = m_stopping;
            TellSandbox();
            Tell(firstNew);
            if (stopping && m_nextCommit < m_total
                && (!m_plan.StopFinishesStarted || (m_nextCommit == m_nextStart && !MayStart()))) {
                m_report.Stopped = true;
                break;
            }
        }
        // A run stopped within a group reports what of it was committed.
        while (!m_heldGroups.empty()) {
            const std::size_t firstNew = m_report.Results.size();
            Report(ReleaseGroup(m_heldGroups.begin()->first));
            Tell(firstNew);
        }
        if (StopNowAsked() && !m_plan.Workers.IsSet() && m_nextCommit < m_total && InFlight()) {
            // A thread inside the image library cannot be reached: no further
            // save may start, and the caller ends the process.
            RefuseFurtherSaves();
            for (std::thread& thread : threads)
                thread.detach();
            m_report.Abandoned = true;
            return std::move(m_report);
        }
        End(threads);
        return std::move(m_report);
    }

private:
    std::vector<ImageResult> ReleaseGroup(std::size_t group)
    {
        std::vector<ImageResult> results = std::move(m_heldGroups[group]);
        m_heldGroups.erase(group);
        MarkSharedNames(results);
        return results;
    }

    void Report(std::vector<ImageResult> results)
    {
        for (ImageResult& result : results) {
            m_report.Tally.Count(result);
            m_report.Results.push_back(std::move(result));
        }
    }

    // The commit handler, for the results reported from firstNew on.
    void Tell(std::size_t firstNew)
    {
        if (!m_committed)
            return;
        for (std::size_t i = firstNew; i < m_report.Results.size(); ++i)
            m_committed(m_report.Results[i], static_cast<int>(i + 1), m_totalOutputs);
    }

    bool StopAsked() const { return m_plan.Stop && m_plan.Stop->load(); }

    // A worker's word on its lock-down, passed on once.
    void TellSandbox()
    {
        if (!m_report.SandboxNote.isEmpty())
            return;
        {
            const std::lock_guard lock(m_shared->Mutex);
            m_report.SandboxNote = m_shared->SandboxNoteOf;
        }
        if (!m_report.SandboxNote.isEmpty() && m_plan.SandboxNoted)
            m_plan.SandboxNoted(m_report.SandboxNote);
    }
    bool StopNowAsked() const { return m_plan.StopNow && m_plan.StopNow->load(); }

    // Started images not yet handed back.
    bool InFlight()
    {
        const std::lock_guard lock(m_shared->Mutex);
        const int waiting = static_cast<int>(m_shared->Tasks.size() + m_shared->Done.size());
        return m_nextStart - m_nextCommit > waiting;
    }

    bool MayStart()
    {
        if (m_nextStart >= m_total || m_nextStart - m_nextCommit >= m_ahead)
            return false;
        if (StopAsked())
            m_stopping = true;
        if (!m_stopping)
            return true;
        // Stopping: only the rest of a group already begun.
        return m_plan.StopFinishesStarted && m_groupStarted[m_groupOf[static_cast<std::size_t>(m_nextStart)]];
    }

    // Hands image `index` to a making thread under `settings`, or puts its
    // result straight into the done list where nothing needs making: a group
    // up to date, or an output folder that cannot be made. A remake goes
    // before every image made ahead.
    void Start(int index, const SettingsSnapshot::Versioned& settings, bool first)
    {
        const std::size_t group = m_groupOf[static_cast<std::size_t>(index)];
        m_groupStarted[group] = true;
        const QString& name = m_plan.Names[index];
        SettingsSnapshot::Versioned toMake = settings;
        std::optional<std::vector<ImageResult>> results;
        if (m_plan.SkipUpToDate) {
            // Each box on its own: only the boxes whose output is older than
            // a source of its group are made again.
            const std::vector<int>& members = m_groups[group];
            const auto at = static_cast<std::size_t>(std::find(members.begin(), members.end(), index) - members.begin());
            const std::vector<OutputSize> sizes = OutputSizesOf(settings.Settings);
            std::vector<ImageResult> upToDate;
            QStringList stale;
            for (std::size_t box = 0; box < sizes.size(); ++box) {
                const auto key = std::make_pair(group, box);
                if (index == members.front() || !m_upToDate.contains(key))
                    m_upToDate[key] = UpToDateResults(members, m_plan.Names, settings.Settings, sizes[box],
                                                      m_shared->Listed);
                if (const std::optional<std::vector<ImageResult>>& found = m_upToDate[key])
                    upToDate.push_back(found->at(at));
                else
                    stale.append(sizes[box].Box);
            }
            if (stale.isEmpty()) {
                results = std::move(upToDate);
            } else if (!upToDate.empty()) {
                toMake.Settings.Sizes = stale.join(QLatin1Char(' '));
                m_upToDateBoxes[index] = std::move(upToDate);
            } else {
                m_upToDateBoxes.erase(index);
            }
        }
        std::uint64_t bytes = 0;
        if (!results) {
            const ImageNames paths = BuildImageNames(name, settings.Settings);
            Outcome<> admitted = MakeOutputFolder(name, settings.Settings);
            if (admitted) {
                bytes = EstimateImageMemory(paths.SourcePath).Bytes;
                if (m_shared->Budget.NeverFits(bytes))
                    admitted = Failure{MemoryRefusal(bytes, m_shared->Budget.Limit())};
            }
            if (!admitted) {
                results.emplace();
                for (const OutputSize& size : OutputSizesOf(toMake.Settings)) {
                    ImageResult result{name, NamesForSize(paths, size).OutputPath, false, admitted.Reason()};
                    result.Size = size.Box;
                    result.SourceBytes = StampOf(paths.SourcePath).Bytes;
                    results->push_back(std::move(result));
                }
            }
        }
        const std::lock_guard lock(m_shared->Mutex);
        if (results) {
            m_shared->Done[index] = Made{GatherSizes(std::move(*results), {}), settings.Version};
        } else if (first) {
            m_shared->Tasks.push_front(Task{index, toMake, bytes});
        } else {
            m_shared->Tasks.push_back(Task{index, toMake, bytes});
        }
        m_shared->Changed.notify_all();
    }

    // The output folder of a name from a folder tree, made here in the run's
    // own process before the image goes to a decode worker: the workers only
    // write into folders that exist. Each folder is looked at once per
    // destination.
    Outcome<> MakeOutputFolder(const QString& name, const JobSettings& settings)
    {
        const QString folder = name.left(name.lastIndexOf(QLatin1Char('/')) + 1);
        if (folder.isEmpty())
            return {};
        const QString key = settings.DestinationFolder + QLatin1Char('\n') + folder;
        if (m_madeFolders.contains(key))
            return {};
        if (const Outcome<> made = PrepareOutputFolder(name, settings); !made)
            return made;
        m_madeFolders.insert(key);
        RemoveStaleTemporaries(FolderWithSeparator(settings.DestinationFolder) + folder);
        return {};
    }

    // The image whose turn it is, once made; nothing when StopNow ends the run.
    std::optional<Made> WaitForHead()
    {
        std::unique_lock lock(m_shared->Mutex);
        for (;;) {
            if (const auto found = m_shared->Done.find(m_nextCommit); found != m_shared->Done.end()) {
                Made made = std::move(found->second);
                m_shared->Done.erase(found);
                return made;
            }
            if (StopNowAsked()) {
                m_shared->DropInFlight = true;
                return std::nullopt;
            }
            if (m_plan.StopNow)
                m_shared->Changed.wait_for(lock, kStopNowPoll);
            else
                m_shared->Changed.wait(lock);
        }
    }

    // Lets the making threads go: images still in making are dropped (their
    // workers killed), and so is everything made ahead of a stop.
    void End(std::vector<std::thread>& threads)
    {
        {
            const std::lock_guard lock(m_shared->Mutex);
            m_shared->Quit = true;
            m_shared->Tasks.clear();
            if (m_nextCommit < m_nextStart)
                m_shared->DropInFlight = true;
            m_shared->Changed.notify_all();
        }
        for (std::thread& thread : threads)
            thread.join();
        m_report.WorkersEndedBadly = m_shared->EndedBadly;
        TellSandbox();
        // Their temporary files go with them.
        const std::lock_guard lock(m_shared->Mutex);
        m_shared->Done.clear();
    }

    std::shared_ptr<Shared> m_shared;
    const BatchPlan& m_plan;
    const SettingsSnapshot& m_settings;
    const CommitHandler& m_committed;
    const int m_total;
    const int m_totalOutputs; // a thumbnail per box of every image
    std::vector<std::vector<int>> m_groups;
    std::vector<std::size_t> m_groupOf;
    std::vector<bool> m_groupStarted;
    // Per group and box, the group's results when that box's output is up to date.
    std::map<std::pair<std::size_t, std::size_t>, std::optional<std::vector<ImageResult>>> m_upToDate;
    // The results of groups sharing an output name, until the last is in place.
    std::map<std::size_t, std::vector<ImageResult>> m_heldGroups;
    // The up-to-date boxes' results of images whose other boxes are being made.
    std::map<int, std::vector<ImageResult>> m_upToDateBoxes;
    QSet<QString> m_madeFolders;
    // Started images not yet committed are at most this many: enough to keep
    // every making thread busy while the image in hand is slow.
    const int m_ahead;
    int m_nextStart = 0;
    int m_nextCommit = 0;
    bool m_stopping = false;
    SettingsSnapshot::Versioned m_head;
    BatchReport m_report;
};

} // namespace

BatchReport RunBatch(const BatchPlan& plan, const SettingsSnapshot& settings, const CommitHandler& committed)
{
    const auto shared = std::make_shared<Shared>(plan);
    const int total = static_cast<int>(plan.Names.size());
    const int threadCount = std::clamp(plan.Jobs, 1, std::max(total, 1));
    std::vector<std::thread> threads;
    if (total > 0) {
        threads.reserve(static_cast<std::size_t>(threadCount));
        for (int t = 0; t < threadCount; ++t)
            threads.emplace_back([shared] { shared->MakingThread(); });
    }
    Scheduler scheduler(shared, settings, committed);
    return scheduler.Run(threads);
}

std::vector<std::vector<int>> GroupByOutputName(const QStringList& names, const JobSettings& settings)
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

} // namespace pixquill
