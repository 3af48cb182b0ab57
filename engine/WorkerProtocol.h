#pragma once

// The messages between a batch and its decode worker processes. Each message
// is a frame: a 4-byte big-endian payload length, a 1-byte kind, then the
// payload as a QDataStream. The batch sends a Job (the settings and the
// listed names), then one Image per file; between two images may come new
// Settings (the listed names stay) or, for a new run, a new Job. Before all
// of them comes the Channel over which the files of each request arrive. The
// worker first tells what of its lock-down held (Sandbox), before it reads
// anything, then answers every Image with one Result, and every Look
// with one Picture or SharedPicture (after a Glance, for a large picture),
// in order.

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QImage>
#include <QSet>
#include <QString>

#include "engine/JobSettings.h"
#include "engine/ProcessImage.h"
#include "engine/WorkerSandbox.h"

namespace pixquill {

enum class WorkerMessage : std::uint8_t {
    Job = 1,    // settings and listed names, at the start of a run
    Image = 2,  // one file name (without folder)
    Result = 3, // the ImageResults for the last Image, one per box
    Settings = 4, // new settings for the images that follow, without the names
    Look = 5,     // a full path, to be loaded and shown: a window's preview
    Picture = 6,  // the answer to a Look: a Result's fields, then the pixels
    Channel = 7,  // the worker's descriptor number of its end of the handover
                  // channel (Handover); the first frame, once
    SharedPicture = 8, // the answer to a Look whose pixels are in a memory
                       // file sent just before it over the handover channel
                       // (SharedPicture): a Result's fields, then the sizes
    Glance = 9,  // before the answer to a Look of a large picture: the
                 // picture made small (see Glance), in a Picture's form, so
                 // that a preview can be drawn before the whole one has come
    Sandbox = 10, // the worker's first frame, unasked: what of its lock-down
                  // held (SandboxState)
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
// The first bytes of PackFrame's frame alone, for a payload sent after it.
QByteArray FrameHeader(WorkerMessage kind, std::uint32_t length);

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

QByteArray EncodeSandbox(const SandboxState& state);
std::optional<SandboxState> DecodeSandbox(const QByteArray& payload);

// An Image's answer: one result per box the image is made for.
QByteArray EncodeResults(const std::vector<ImageResult>& results);
std::optional<std::vector<ImageResult>> DecodeResults(const QByteArray& payload);

// A decoded picture with its result; the picture is null when the load
// failed. Pixels travel raw (32 bits, row after row): packing them costs
// more than the pipe does.
struct LookedPicture {
    ImageResult Result;
    QImage Picture; // Format_RGB32
};

// The largest picture a Picture frame carries: larger ones are halved in
// the worker until they fit (a preview, not the thumbnail, so the loss only
// shows in the full-screen view of a picture above 64 megapixels).
inline constexpr qint64 kMaxLookedPixels = (kMaxWorkerFrame - (1u << 20)) / 4;

QByteArray EncodePicture(const LookedPicture& looked);
std::optional<LookedPicture> DecodePicture(const QByteArray& payload);

// A SharedPicture frame: the result, and the sizes of the picture in the
// memory file that came with it (checked against the file when it is mapped).
struct SharedPictureSizes {
    ImageResult Result;
    qint32 Width = 0;
    qint32 Height = 0;
};

// A large picture's glance: averaged in blocks down to kGlanceSide pixels
// or a little more on its shorter side; a null image for a picture less than
// four times as large, which has none.
inline constexpr int kGlanceSide = 256;
QImage Glance(const QImage& picture);

QByteArray EncodeSharedPicture(const SharedPictureSizes& sizes);
std::optional<SharedPictureSizes> DecodeSharedPicture(const QByteArray& payload);

} // namespace pixquill
