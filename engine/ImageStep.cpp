#include "engine/ImageStep.h"

#include "codec/Surface.h"

namespace pixquill {

ImageStep::ImageStep(Surface& picLoad, Surface& picThumb, RenderOps& ops)
    : m_local([&picLoad, &picThumb, &ops](const QString& name, const JobSettings& settings,
                                          const QSet<QString>& listedNames) {
          return MakeImage(name, settings, picLoad, picThumb, listedNames, ops);
      })
{
}

ImageStep::ImageStep(LocalStep local) : m_local(std::move(local)) {}

ImageStep::~ImageStep() = default;

void ImageStep::SetWorker(const WorkerCommand& command)
{
    m_worker.reset();
    if (!command.IsSet())
        return;
    m_worker = std::make_unique<WorkerProcess>(command, WorkerJob{JobSettings{}, m_listedNames});
    m_worker->SetStopNow(m_stopNow);
}

void ImageStep::SetStopNow(const std::atomic<bool>* stopNow)
{
    m_stopNow = stopNow;
    if (m_worker)
        m_worker->SetStopNow(stopNow);
}

void ImageStep::BeginRun(QSet<QString> listedNames)
{
    m_listedNames = std::move(listedNames);
    if (m_worker)
        m_worker->SetListedNames(m_listedNames);
}

MadeImage ImageStep::Make(const QString& name, const JobSettings& settings)
{
    if (!m_worker)
        return m_local(name, settings, m_listedNames);
    m_worker->SetSettings(settings);
    return m_worker->Make(name);
}

LookedPicture ImageStep::Look(const QString& path, Surface& scratch, const WorkerProcess::GlanceHandler& onGlance)
{
    if (m_worker)
        return m_worker->Look(path, onGlance);
    const LoadResult loaded = LoadImageToSurface(path, scratch);
    LookedPicture looked{ImageResult{path, QString(), loaded.ok, loaded.error}, QImage()};
    if (loaded.ok) {
        looked.Picture = scratch.Image();
        looked.Result.SourceWidth = looked.Picture.width();
        looked.Result.SourceHeight = looked.Picture.height();
    }
    return looked;
}

bool ImageStep::Finish()
{
    return !m_worker || m_worker->Finish();
}

} // namespace pixquill
