#include "PreviewLoader.h"

#include <QFileInfo>
#include <QTimer>

#include "codec/Surface.h"
#include "engine/ImageStep.h"

namespace pixquill {

PreviewLoader::PreviewLoader(QObject* parent) : QObject(parent)
{
    m_thread = std::thread([this] { Run(); });
}

PreviewLoader::~PreviewLoader()
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_waiting.reset();
    }
    // A worker's wait ends within its poll; a decode in this process ends
    // when it ends.
    m_abandon = true;
    m_wake.notify_one();
    m_thread.join();
}

void PreviewLoader::SetWorker(const WorkerCommand& command)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_newCommand = command;
}

void PreviewLoader::SetLoader(ImageLoader loader)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_loader = loader ? std::move(loader) : ImageLoader(LoadImageToSurface);
}

std::uint64_t PreviewLoader::Request(const QString& path)
{
    ++m_newest;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_waiting.emplace(m_newest, path);
    }
    m_wake.notify_one();
    AbandonIfOverdue();
    return m_newest;
}

void PreviewLoader::AbandonIfOverdue()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_inHand == 0 || !m_waiting)
        return;
    const qint64 left = kAbandonAfterMs - m_inHandSince.elapsed();
    if (left <= 0) {
        m_abandon = true;
        return;
    }
    // Looked at again when it is due, if it is still in hand by then.
    if (m_abandonCheckDue)
        return;
    m_abandonCheckDue = true;
    QTimer::singleShot(int(left) + 1, this, [this] {
        m_abandonCheckDue = false;
        AbandonIfOverdue();
    });
}

void PreviewLoader::Run()
{
    // The thread's own: the step (and its worker process) and the scratch
    // surface of loads in this process.
    ImageStep step([](const QString&, const JobSettings&, const QSet<QString>&) { return ImageResult{}; });
    step.SetStopNow(&m_abandon);
    Surface scratch;
    scratch.SetScratch(true);
    for (;;) {
        std::uint64_t request = 0;
        QString path;
        ImageLoader loader;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || m_waiting; });
            if (m_quit)
                return;
            if (m_newCommand) {
                step.SetWorker(*m_newCommand);
                m_newCommand.reset();
            }
            std::tie(request, path) = *m_waiting;
            m_waiting.reset();
            loader = m_loader;
            m_inHand = request;
            m_inHandSince.start();
            m_abandon = false;
        }

        PreviewReply reply;
        reply.Request = request;
        reply.Path = path;
        // A length from the directory entry: a FIFO or a device is never opened here.
        const QFileInfo info(path);
        reply.FileBytes = info.isFile() ? info.size() : 0;
        if (step.HasWorker()) {
            LookedPicture looked = step.Look(path, scratch);
            reply.Loaded = LoadResult{looked.Result.Written, looked.Result.Reason};
            reply.Picture = std::move(looked.Picture);
        } else {
            reply.Loaded = loader(path, scratch);
            if (reply.Loaded.ok)
                reply.Picture = scratch.Image();
            // The next load must not find this picture shared.
            scratch.Resize(0, 0);
        }
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_inHand = 0;
            // Nobody waits for an answer that is already stale.
            if (m_quit || (m_waiting && m_waiting->first > request))
                continue;
        }
        QMetaObject::invokeMethod(this, [this, reply = std::move(reply)]() mutable { Deliver(std::move(reply)); },
                                  Qt::QueuedConnection);
    }
}

void PreviewLoader::Deliver(PreviewReply reply)
{
    if (reply.Request != m_newest)
        return;
    m_answered = reply.Request;
    emit Ready(reply);
}

} // namespace pixquill
