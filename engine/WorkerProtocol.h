#pragma once

// The messages between a batch and its decode worker processes. Each message
// is a frame: a 4-byte big-endian payload length, a 1-byte kind, then the
// payload as a QDataStream. The batch sends a Job (the settings and the
// listed names), then one Image per file; between two images may come new
// Settings (the listed names stay) or, for a new run, a new Job. Before all
// of them comes the Channel over which the files of each request arrive. The worker
// answers every Image and every Probe with one Result, in order.

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QSet>
#include <QString>

#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"

namespace pixquill {

enum class WorkerMessage : std::uint8_t {
    Job = 1,    // settings and listed names, at the start of a run
    Image = 2,  // one file name (without folder)
    Result = 3, // the ImageResult for the last Image or Probe
    Probe = 4,  // a full path, only to be loaded: a window tries a file here
                // before it loads the file itself; answered with a Result
    Settings = 5, // new settings for the images that follow, without the names
    Channel = 6,  // the worker's descriptor number of its end of the handover
                  // channel (Handover); the first frame, once
};

struct WorkerFrame {
    WorkerMessage Kind = WorkerMessage::Job;
    QByteArray Payload;
};

// What a worker needs before the first image of a run.
struct WorkerJob {
    JobSettings Settings;
    QSet<QString> ListedNames;
};

// Frames larger than this are taken for garbage rather than allocated.
inline constexpr std::uint32_t kMaxWorkerFrame = 256u << 20;

QByteArray PackFrame(WorkerMessage kind, const QByteArray& payload);

// Outcome of looking for a frame at the front of a receive buffer.
enum class FrameStatus { Complete, Incomplete, Malformed };

// Takes one complete frame off the front of buffer into frame. Incomplete
// leaves the buffer as it is (wait for more bytes); Malformed means the
// stream cannot be trusted any more (unknown kind, oversized length).
FrameStatus TakeFrame(QByteArray& buffer, WorkerFrame& frame);

QByteArray EncodeJob(const WorkerJob& job);
std::optional<WorkerJob> DecodeJob(const QByteArray& payload);

QByteArray EncodeSettings(const JobSettings& settings);
std::optional<JobSettings> DecodeSettings(const QByteArray& payload);

QByteArray EncodeImageName(const QString& name);
std::optional<QString> DecodeImageName(const QByteArray& payload);

QByteArray EncodeChannel(int fd);
std::optional<int> DecodeChannel(const QByteArray& payload); // nullopt unless fd > 2

QByteArray EncodeResult(const ImageResult& result);
std::optional<ImageResult> DecodeResult(const QByteArray& payload);

} // namespace pixquill
