#include "engine/BatchThread.h"

#include <utility>

#include <QMetaObject>
#include <QPointer>

namespace pixquill {

BatchThread::BatchThread(QObject* parent) : QObject(parent) {}

BatchThread::~BatchThread()
{
    m_stop = true;
    Wait();
}

bool BatchThread::Start(BatchPlan plan, std::shared_ptr<const SettingsSnapshot> settings)
{
    if (m_running)
        return false;
    Wait(); // a finished run's thread whose news are still on their way
    m_running = true;
    m_stop = false;
    plan.Stop = &m_stop;
    plan.StopNow = nullptr;
    m_thread = std::thread([this, plan = std::move(plan), settings = std::move(settings)] {
        // Queued to this object: dropped, never run, once it is destroyed.
        const BatchReport report = RunBatch(plan, *settings, [this](const ImageResult& result, int done, int total) {
            QMetaObject::invokeMethod(
                this, [this, result, done, total] { emit ImageCommitted(result, done, total); },
                Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            this,
            [this, report] {
                m_running = false;
                emit Finished(report);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void BatchThread::Stop()
{
    if (m_running)
        m_stop = true;
}

void BatchThread::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

} // namespace pixquill
