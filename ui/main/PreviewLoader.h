#pragma once

// The preview's decoding, off the window's thread: the window asks for a file
// and goes on; a thread of the loader's own decodes it (in a decode worker
// process of its own, not the batch's, when there is a worker command) and
// hands the picture back to the window's thread. The newest request wins:
// requests that arrive while one is in hand replace each other, and answers
// to any but the newest are dropped. A request that has been in hand for a
// while when a newer one is waiting is abandoned: its worker is killed (a
// hung decoder costs that preview only) and the newer one gets a fresh one.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <QElapsedTimer>
#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QObject>
#include <QString>

#include "engine/WorkerProcess.h"
#include "ui/main/ImagePreview.h"

namespace pixquill {

// One decoded (or failed) preview, as the window's thread receives it.
struct PreviewReply {
    std::uint64_t Request = 0;
    QString Path;
    qint64 FileBytes = 0; // from the directory entry; 0 when unreadable
    LoadResult Loaded;
    QImage Picture;       // Format_RGB32; null unless Loaded.ok
    // The picture shrunk into the fit box (see SetFitBox), drawn the way the
    // preview box draws it; null without a box or a picture.
    QImage Fitted;
    // On a screen of more than one device pixel per pixel: the same shrink
    // at the screen's density (its devicePixelRatio set), to be drawn over
    // Fitted at SharpAt; null otherwise.
    QImage Sharp;
    QPoint SharpAt;
    // The file's dimensions as loaded (null unless Loaded.ok): Picture's
    // size, unless the picture came from a worker reduced to travel (above
    // 64 megapixels); for an early reply, the same.
    QSize Dimensions;
    // Drawn from a large picture's glance while the picture itself is on its
    // way: Picture is null, Fitted and Sharp are what the answer will bring,
    // and the answer follows (or a failure, should the rest go wrong).
    bool Early = false;
};

// Lives on the GUI thread; its one decoding thread is its own.
class PreviewLoader : public QObject {
    Q_OBJECT
public:
    // A request in hand for this long is abandoned once a newer one waits.
    static constexpr int kAbandonAfterMs = 1000;

    explicit PreviewLoader(QObject* parent = nullptr);
    ~PreviewLoader() override;

    // Decodes in a worker process started with command from the next request
    // on; an empty command decodes on the loader's thread with the loader.
    void SetWorker(const WorkerCommand& command);
    // What decodes without a worker (LoadImageToSurface unless replaced);
    // called on the loader's thread, with a surface of that thread.
    void SetLoader(ImageLoader loader);

    // The preview box's inner size, back colour and device pixel ratio: each
    // answer then brings the picture already shrunk into it, made on the
    // loader's thread rather than the window's.
    void SetFitBox(QSize inner, QColor back, qreal devicePixelRatio);

    // Asks for a preview of path; returns the request's number. Never waits.
    std::uint64_t Request(const QString& path);
    // Lets go of picture on the loader's thread: freeing the last copy of a
    // large picture (a worker's memory file: tens of megabytes of pages)
    // takes milliseconds the window's thread should not spend.
    void Release(QImage picture);

    // Whether the newest request's answer is still to come.
    bool Pending() const { return m_newest != m_answered; }
    // Whether the newest request's preview is drawn, early or answered.
    bool Drawn() const { return m_newest == m_drawn; }

signals:
    // The answer to the newest request, on the GUI thread; for a large
    // picture from a worker an Early reply may come before it.
    void Ready(const PreviewReply& reply);

private:
    void Run();
    void Deliver(PreviewReply reply);
    // Whether a newer request than this one waits (or the loader is going).
    bool Overtaken(std::uint64_t request) const;
    // Abandons the request in hand if a newer one waits and it is old enough.
    void AbandonIfOverdue();

    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    // Under m_mutex:
    bool m_quit = false;
    std::optional<std::pair<std::uint64_t, QString>> m_waiting;
    std::optional<WorkerCommand> m_newCommand;
    std::vector<QImage> m_released;
    ImageLoader m_loader = LoadImageToSurface;
    QSize m_fitInner;
    QColor m_fitBack;
    qreal m_fitRatio = 1.0;
    std::uint64_t m_inHand = 0;
    QElapsedTimer m_inHandSince;
    // Read by the worker's wait while it waits for an answer.
    std::atomic<bool> m_abandon{false};

    // GUI thread only.
    std::uint64_t m_newest = 0;
    std::uint64_t m_answered = 0;
    std::uint64_t m_drawn = 0;
    bool m_abandonCheckDue = false;
};

} // namespace pixquill
