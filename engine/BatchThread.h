#pragma once

// A window's batch: RunBatch on a thread of its own, its news handed back to
// the thread that owns this object (the window's), in list order, as
// signals. The window's thread only shows the run; nothing of the run waits
// for it.

#include <atomic>
#include <memory>
#include <thread>

#include <QObject>

#include "engine/BatchEngine.h"

namespace pixquill {

// Lives on, and is used from, the window's thread.
class BatchThread : public QObject {
    Q_OBJECT
public:
    explicit BatchThread(QObject* parent = nullptr);
    // Ends a run in progress as Stop does and waits for its thread: the image
    // in hand is committed, those made ahead are removed.
    ~BatchThread() override;

    BatchThread(const BatchThread&) = delete;
    BatchThread& operator=(const BatchThread&) = delete;

    // Starts the plan on the run's thread, reading settings from the
    // snapshot (which must outlive the run). Refused (false) while a run is
    // in progress. The plan's Stop and StopNow are this object's own.
    bool Start(BatchPlan plan, std::shared_ptr<const SettingsSnapshot> settings);

    // The run ends after the image in hand is committed. Nothing when idle.
    void Stop();

    // From Start until Finished has been emitted.
    bool IsRunning() const { return m_running; }
    // Stop was asked and the run has not ended yet. Safe from any thread.
    bool StopRequested() const { return m_stop; }

    // Blocks until the run's thread has ended; its signals still arrive
    // through the event loop afterwards. Nothing when idle.
    void Wait();

signals:
    // Image `done` of `total` was put in place (or failed), in list order.
    void ImageCommitted(const pixquill::ImageResult& result, int done, int total);
    // The run ended, completed or stopped.
    void Finished(const pixquill::BatchReport& report);

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    bool m_running = false;
};

} // namespace pixquill
