#include "engine/BatchRun.h"

#include <QSet>

#include "engine/BatchRules.h"

namespace pixquill {

// Everything a run changes lives here, shared between the object and the
// Start() on the stack, so that a Start() whose owner was destroyed inside a
// callback can still find out and leave without touching freed memory.
struct BatchRun::State {
    bool Running = false;
    bool StopRequested = false;
    bool Abandoned = false;
    QStringList WorkList;
    QString Caption;
    std::vector<ImageResult> Results;
    BatchTally Tally; // of Results
};

BatchRun::BatchRun(BatchSettings& settings, std::shared_ptr<ImageStep> step, BatchCallbacks callbacks)
    : m_state(std::make_shared<State>())
    , m_settings(settings)
    , m_step(std::move(step))
    , m_callbacks(std::move(callbacks))
{
}

BatchRun::~BatchRun()
{
    m_state->Abandoned = true;
}

BatchOutcome BatchRun::Start(QStringList workList)
{
    if (m_state->Running)
        return BatchOutcome::Refused;

    // Locals only from here on: a callback may destroy *this.
    const std::shared_ptr<State> state = m_state;
    const BatchCallbacks callbacks = m_callbacks;
    const std::shared_ptr<ImageStep> step = m_step;
    BatchSettings& settings = m_settings;
    auto setCaption = [&](const QString& caption) {
        state->Caption = caption;
        if (callbacks.Caption)
            callbacks.Caption(caption);
        return !state->Abandoned;
    };
    auto setProgress = [&](int value, int max) {
        if (callbacks.Progress)
            callbacks.Progress(value, max);
        return !state->Abandoned;
    };

    if (const Outcome<QString> destination = PrepareDestination(settings.ReadJobSettings()); !destination) {
        setCaption(DestinationCaption(destination.Error()));
        return BatchOutcome::Refused;
    }

    state->Running = true;
    state->StopRequested = false;
    state->Results.clear();
    state->Tally = {};
    const int n = static_cast<int>(workList.size());
    step->BeginRun(QSet<QString>(workList.begin(), workList.end()));
    state->WorkList = std::move(workList);
    if (!setProgress(0, n))
        return BatchOutcome::Abandoned;


    for (int i = 1; i <= n; ++i) {
        // Every way of dropping the list also ends the run, so this holds;
        // checked all the same, since a callback may do anything.
        if (i > state->WorkList.size()) {
            setCaption(state->Tally.StoppedCaption(n));
            state->StopRequested = false;
            state->Running = false;
            return BatchOutcome::Stopped;
        }
        const JobSettings current = settings.ReadJobSettings();
        ImageResult result = step->Process(state->WorkList[i - 1], current);
        state->Tally.Count(result);
        state->Results.push_back(std::move(result));
        if (!setProgress(i, n)
            || !setCaption(QStringLiteral("Processing %1 of %2").arg(i).arg(n)))
            return BatchOutcome::Abandoned;
        if (callbacks.Yield)
            callbacks.Yield();
        if (state->Abandoned)
            return BatchOutcome::Abandoned;
        if (state->StopRequested) {
            // "Processing i of n" would report work that no longer goes on.
            // Still running while the owner resets its progress display, so
            // that a Start arriving there is refused.
            if (!setCaption(state->Tally.StoppedCaption(n)) || !setProgress(0, n))
                return BatchOutcome::Abandoned;
            state->StopRequested = false;
            state->Running = false;
            return BatchOutcome::Stopped;
        }
    }

    state->WorkList.clear();
    if (!setCaption(state->Tally.CompletionCaption(n)) || !setProgress(0, n))
        return BatchOutcome::Abandoned;
    if (callbacks.Completed)
        callbacks.Completed();
    if (state->Abandoned)
        return BatchOutcome::Abandoned;
    state->Running = false;
    state->StopRequested = false;
    return BatchOutcome::Completed;
}

void BatchRun::Stop()
{
    if (!m_state->Running)
        return;
    m_state->StopRequested = true;
    m_state->WorkList.clear();
}

void BatchRun::Abandon()
{
    if (!m_state->Running)
        return;
    m_state->Abandoned = true;
    m_state->WorkList.clear();
    // A fresh state for whatever comes next; the abandoned Start() keeps the
    // old one and leaves at its next check.
    auto fresh = std::make_shared<State>();
    fresh->Caption = m_state->Caption;
    fresh->Results = m_state->Results;
    fresh->Tally = m_state->Tally;
    m_state = std::move(fresh);
}

bool BatchRun::IsRunning() const
{
    return m_state->Running;
}

const QStringList& BatchRun::WorkList() const
{
    return m_state->WorkList;
}

bool BatchRun::StopRequested() const
{
    return m_state->StopRequested;
}

QString BatchRun::Caption() const
{
    return m_state->Caption;
}

const std::vector<ImageResult>& BatchRun::Results() const
{
    return m_state->Results;
}

int BatchRun::WrittenCount() const
{
    return m_state->Tally.Written;
}

int BatchRun::FailedCount() const
{
    return m_state->Tally.Failed;
}

QString BatchRun::FailureReport() const
{
    QStringList lines;
    for (const ImageResult& result : m_state->Results) {
        if (!result.Written)
            lines.append(result.Name + QStringLiteral(": ") + result.Reason);
    }
    return lines.join(QLatin1Char('\n'));
}

} // namespace pixquill
