#include "PreviewLoader.h"

#include <algorithm>
#include <optional>
#include <vector>

#include <QFileInfo>
#include <QPainter>
#include <QRect>
#include <QTimer>

#include "codec/Surface.h"
#include "engine/BlockAverage.h"
#include "engine/ImageStep.h"
#include "ui/display/mScaleImage.h"

namespace pixquill {

namespace {

// picture made smaller for a smooth scale down to size (or less): averaged
// in blocks while it is more than four times as large.
QImage ReduceFor(const QImage& picture, QSize size)
{
    const int factor = std::min(picture.width() / size.width(), picture.height() / size.height()) / 4;
    return factor >= 2 ? BlockAverage(picture, factor) : picture;
}

QImage ScaledTo(const QImage& reduced, QSize size)
{
    return reduced.size() == size ? reduced : reduced.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The preview box's drawing of a picture of size whole, at the place and
// size that FitImageToBox gives it, and for a dense screen its sharp version,
// made from pixels: the picture itself or its glance. The large picture is
// read once: both come from the same block averages. False, with nothing
// drawn, when pixels has fewer than the drawings need.
bool FitPreview(PreviewReply& reply, const QImage& pixels, QSize whole, QSize inner, const QColor& back,
                qreal ratio)
{
    const std::optional<QRect> target =
        FitTargetRect(whole.width(), whole.height(), inner.width(), inner.height(), 0, true);
    // Never more pixels than the picture has: a small picture stays as it is.
    const QSize dense =
        target && ratio > 1.0 ? (QSizeF(target->size()) * ratio).toSize().boundedTo(whole) : QSize();
    const QSize needed = dense.isValid() ? dense : target ? target->size() : QSize();
    if (needed.isValid() && (pixels.width() < needed.width() || pixels.height() < needed.height()))
        return false;
    const QImage reduced = target ? ReduceFor(pixels, needed) : QImage();
    Surface box(inner.width(), inner.height(), back);
    box.Cls();
    if (target) {
        QPainter painter(&box.Image());
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(target->topLeft(), ScaledTo(reduced, target->size()));
    }
    reply.Fitted = box.Image();
    if (!dense.isValid())
        return true;
    QImage sharp = ScaledTo(reduced, dense);
    sharp.setDevicePixelRatio(qreal(dense.width()) / target->width());
    reply.Sharp = std::move(sharp);
    reply.SharpAt = target->topLeft();
    return true;
}

} // namespace

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

void PreviewLoader::SetFitBox(QSize inner, QColor back, qreal devicePixelRatio)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_fitInner = inner;
    m_fitBack = back;
    m_fitRatio = devicePixelRatio;
}

void PreviewLoader::Release(QImage picture)
{
    if (picture.isNull())
        return;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_released.push_back(std::move(picture));
    }
    m_wake.notify_one();
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
    ImageStep step([](const QString&, const JobSettings&, const QSet<QString>&) { return MadeImage{}; });
    step.SetStopNow(&m_abandon);
    Surface scratch;
    scratch.SetScratch(true);
    for (;;) {
        // Freed outside the lock, before the next decode needs the memory.
        std::vector<QImage> released;
        std::uint64_t request = 0;
        QString path;
        ImageLoader loader;
        QSize fitInner;
        QColor fitBack;
        qreal fitRatio = 1.0;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_quit || m_waiting || !m_released.empty(); });
            released.swap(m_released);
            if (m_quit)
                return;
            if (!m_waiting)
                continue;
            if (m_newCommand) {
                step.SetWorker(*m_newCommand);
                m_newCommand.reset();
            }
            std::tie(request, path) = *m_waiting;
            m_waiting.reset();
            loader = m_loader;
            fitInner = m_fitInner;
            fitBack = m_fitBack;
            fitRatio = m_fitRatio;
            m_inHand = request;
            m_inHandSince.start();
            m_abandon = false;
        }
        released.clear();

        PreviewReply reply;
        reply.Request = request;
        reply.Path = path;
        // A length from the directory entry: a FIFO or a device is never opened here.
        const QFileInfo info(path);
        reply.FileBytes = info.isFile() ? info.size() : 0;
        // A large picture's glance, drawn and shown while the whole picture
        // is still on its way; the whole one's answer then brings the same
        // drawing.
        PreviewReply early;
        const auto onGlance = [&](const LookedPicture& glance) {
            const QSize whole(glance.Result.SourceWidth, glance.Result.SourceHeight);
            if (!fitInner.isValid() || whole.isEmpty() || Overtaken(request))
                return;
            early = reply;
            early.Loaded = LoadResult{true, QString()};
            early.Early = true;
            early.Dimensions = whole;
            if (!FitPreview(early, glance.Picture, whole, fitInner, fitBack, fitRatio)) {
                early = PreviewReply();
                return;
            }
            QMetaObject::invokeMethod(this, [this, early]() mutable { Deliver(std::move(early)); },
                                      Qt::QueuedConnection);
        };
        if (step.HasWorker()) {
            LookedPicture looked = step.Look(path, scratch, onGlance);
            reply.Loaded = LoadResult{looked.Result.Written, looked.Result.Reason};
            reply.Picture = std::move(looked.Picture);
            reply.Dimensions = QSize(looked.Result.SourceWidth, looked.Result.SourceHeight);
        } else {
            reply.Loaded = loader(path, scratch);
            if (reply.Loaded.ok)
                reply.Picture = scratch.Image();
            // The next load must not find this picture shared.
            scratch.Resize(0, 0);
        }
        if (reply.Dimensions.isEmpty() || reply.Picture.isNull())
            reply.Dimensions = reply.Picture.size();
        if (!reply.Picture.isNull() && early.Early) {
            reply.Fitted = early.Fitted;
            reply.Sharp = early.Sharp;
            reply.SharpAt = early.SharpAt;
        } else if (!reply.Picture.isNull() && fitInner.isValid()) {
            FitPreview(reply, reply.Picture, reply.Picture.size(), fitInner, fitBack, fitRatio);
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

bool PreviewLoader::Overtaken(std::uint64_t request) const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_quit || (m_waiting && m_waiting->first > request);
}

void PreviewLoader::Deliver(PreviewReply reply)
{
    if (reply.Request != m_newest)
        return;
    m_drawn = reply.Request;
    if (!reply.Early)
        m_answered = reply.Request;
    emit Ready(reply);
}

} // namespace pixquill
