#include "engine/WorkerProtocol.h"

#include <algorithm>
#include <variant>

#include <unistd.h>

#include <QDataStream>
#include <QIODevice>

#include "engine/BlockAverage.h"
#include "engine/JobSettingsTable.h"

namespace pixquill {

namespace {

constexpr int kHeaderSize = 5; // length (4) and kind (1)

// Both ends are the same build, but a fixed version keeps the bytes from
// depending on the Qt the worker happens to load.
constexpr QDataStream::Version kStreamVersion = QDataStream::Qt_6_0;

bool KnownKind(std::uint8_t kind)
{
    return kind >= static_cast<std::uint8_t>(WorkerMessage::Job)
        && kind <= static_cast<std::uint8_t>(WorkerMessage::Sandbox);
}

template <typename Write>
QByteArray Encode(Write write, qsizetype expected = 0)
{
    QByteArray bytes;
    // A picture's tens of megabytes are better not grown step by step.
    bytes.reserve(expected);
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(kStreamVersion);
    write(out);
    return bytes;
}

// Runs read over the payload; succeeds only when every byte was used.
template <typename T, typename Read>
std::optional<T> Decode(const QByteArray& payload, Read read)
{
    QDataStream in(payload);
    in.setVersion(kStreamVersion);
    T value{};
    read(in, value);
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return std::nullopt;
    return value;
}

// How a setting's field travels: texts as they are, numbers in 32 bits.
void WriteField(QDataStream& out, const QString& value) { out << value; }
void WriteField(QDataStream& out, int value) { out << qint32(value); }
void WriteField(QDataStream& out, bool value) { out << value; }
void ReadField(QDataStream& in, QString& value) { in >> value; }
void ReadField(QDataStream& in, bool& value) { in >> value; }
void ReadField(QDataStream& in, int& value)
{
    qint32 number = 0;
    in >> number;
    value = number;
}

// Every field of the settings, row by row; a Job carries the listed names
// after them.
QDataStream& WriteSettings(QDataStream& out, const JobSettings& settings)
{
    for (const JobSettingRow& row : JobSettingRows())
        std::visit([&](auto field) { WriteField(out, settings.*field); }, row.Field);
    return out;
}

QDataStream& ReadSettings(QDataStream& in, JobSettings& settings)
{
    for (const JobSettingRow& row : JobSettingRows())
        std::visit([&](auto field) { ReadField(in, settings.*field); }, row.Field);
    return in;
}

} // namespace

QByteArray FrameHeader(WorkerMessage kind, std::uint32_t length)
{
    QByteArray header;
    header.reserve(kHeaderSize);
    header.append(static_cast<char>((length >> 24) & 0xFF));
    header.append(static_cast<char>((length >> 16) & 0xFF));
    header.append(static_cast<char>((length >> 8) & 0xFF));
    header.append(static_cast<char>(length & 0xFF));
    header.append(static_cast<char>(kind));
    return header;
}

QByteArray PackFrame(WorkerMessage kind, const QByteArray& payload)
{
    QByteArray frame = FrameHeader(kind, static_cast<std::uint32_t>(payload.size()));
    frame.reserve(kHeaderSize + payload.size());
    frame.append(payload);
    return frame;
}

FrameStatus TakeFrame(QByteArray& buffer, WorkerFrame& frame)
{
    if (buffer.size() < kHeaderSize)
        return FrameStatus::Incomplete;
    const auto byte = [&buffer](int i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(buffer[i])); };
    const std::uint32_t length = (byte(0) << 24) | (byte(1) << 16) | (byte(2) << 8) | byte(3);
    const auto kind = static_cast<std::uint8_t>(byte(4));
    if (length > kMaxWorkerFrame || !KnownKind(kind))
        return FrameStatus::Malformed;
    if (static_cast<std::uint64_t>(buffer.size()) < kHeaderSize + std::uint64_t{length})
        return FrameStatus::Incomplete;
    frame.Kind = static_cast<WorkerMessage>(kind);
    frame.Payload = buffer.mid(kHeaderSize, static_cast<qsizetype>(length));
    buffer.remove(0, kHeaderSize + static_cast<qsizetype>(length));
    return FrameStatus::Complete;
}

QByteArray EncodeJob(const WorkerJob& job)
{
    return Encode([&job](QDataStream& out) { WriteSettings(out, job.Settings) << job.ListedNames; });
}

std::optional<WorkerJob> DecodeJob(const QByteArray& payload)
{
    return Decode<WorkerJob>(payload, [](QDataStream& in, WorkerJob& job) {
        ReadSettings(in, job.Settings) >> job.ListedNames;
    });
}

QByteArray EncodeSettings(const JobSettings& settings)
{
    return Encode([&settings](QDataStream& out) { WriteSettings(out, settings); });
}

std::optional<JobSettings> DecodeSettings(const QByteArray& payload)
{
    return Decode<JobSettings>(payload, [](QDataStream& in, JobSettings& settings) { ReadSettings(in, settings); });
}

QByteArray EncodeImageName(const QString& name)
{
    return Encode([&name](QDataStream& out) { out << name; });
}

std::optional<QString> DecodeImageName(const QByteArray& payload)
{
    return Decode<QString>(payload, [](QDataStream& in, QString& name) { in >> name; });
}

namespace {

QDataStream& WriteResult(QDataStream& out, const ImageResult& result)
{
    return out << result.Name << result.OutputPath << result.Written << result.Reason << result.UpToDate
               << result.Interrupted << result.SourceBytes << qint32(result.SourceWidth)
               << qint32(result.SourceHeight) << qint32(result.ThumbnailWidth) << qint32(result.ThumbnailHeight)
               << result.ThumbnailBytes << result.Milliseconds << result.Warning << result.Size;
}

QDataStream& ReadResult(QDataStream& in, ImageResult& result)
{
    qint32 sourceWidth = 0;
    qint32 sourceHeight = 0;
    qint32 thumbnailWidth = 0;
    qint32 thumbnailHeight = 0;
    in >> result.Name >> result.OutputPath >> result.Written >> result.Reason >> result.UpToDate
        >> result.Interrupted >> result.SourceBytes >> sourceWidth >> sourceHeight >> thumbnailWidth
        >> thumbnailHeight >> result.ThumbnailBytes >> result.Milliseconds >> result.Warning >> result.Size;
    result.SourceWidth = sourceWidth;
    result.SourceHeight = sourceHeight;
    result.ThumbnailWidth = thumbnailWidth;
    result.ThumbnailHeight = thumbnailHeight;
    return in;
}

} // namespace

QByteArray EncodeChannel(int fd)
{
    return Encode([fd](QDataStream& out) { out << qint32(fd); });
}

std::optional<int> DecodeChannel(const QByteArray& payload)
{
    const std::optional<qint32> fd = Decode<qint32>(payload, [](QDataStream& in, qint32& value) { in >> value; });
    if (!fd || *fd <= STDERR_FILENO)
        return std::nullopt;
    return *fd;
}

QByteArray EncodeSandbox(const SandboxState& state)
{
    return Encode([&state](QDataStream& out) {
        out << state.NoNewPrivileges << state.Seccomp << qint32(state.LandlockAbi) << state.NoCapabilities
            << state.Missing << state.Deliberate;
    });
}

std::optional<SandboxState> DecodeSandbox(const QByteArray& payload)
{
    return Decode<SandboxState>(payload, [](QDataStream& in, SandboxState& state) {
        qint32 abi = 0;
        in >> state.NoNewPrivileges >> state.Seccomp >> abi >> state.NoCapabilities >> state.Missing
            >> state.Deliberate;
        state.LandlockAbi = abi;
    });
}

QByteArray EncodeResults(const std::vector<ImageResult>& results)
{
    return Encode([&results](QDataStream& out) {
        out << quint32(results.size());
        for (const ImageResult& result : results)
            WriteResult(out, result);
    });
}

std::optional<std::vector<ImageResult>> DecodeResults(const QByteArray& payload)
{
    return Decode<std::vector<ImageResult>>(payload, [&payload](QDataStream& in, std::vector<ImageResult>& results) {
        quint32 count = 0;
        in >> count;
        // Each result takes more than a byte: a count beyond the payload is garbage.
        if (in.status() != QDataStream::Ok || count == 0 || count > quint32(payload.size())) {
            in.setStatus(QDataStream::ReadCorruptData);
            return;
        }
        results.resize(count);
        for (ImageResult& result : results)
            ReadResult(in, result);
    });
}

QByteArray EncodePicture(const LookedPicture& looked)
{
    const QImage& picture = looked.Picture;
    const bool usable = !picture.isNull() && picture.format() == QImage::Format_RGB32;
    const qint32 width = usable ? picture.width() : 0;
    const qint32 height = usable ? picture.height() : 0;
    return Encode([&](QDataStream& out) {
        WriteResult(out, looked.Result) << width << height;
        const int rowBytes = width * 4;
        for (int y = 0; y < height; ++y)
            out.writeRawData(reinterpret_cast<const char*>(picture.constScanLine(y)), rowBytes);
    }, qsizetype(width) * height * 4 + 4096);
}

std::optional<LookedPicture> DecodePicture(const QByteArray& payload)
{
    return Decode<LookedPicture>(payload, [&payload](QDataStream& in, LookedPicture& looked) {
        qint32 width = 0;
        qint32 height = 0;
        ReadResult(in, looked.Result) >> width >> height;
        if (in.status() != QDataStream::Ok || width < 0 || height < 0 || (width == 0) != (height == 0))
            return in.setStatus(QDataStream::ReadCorruptData);
        // The pixels must be exactly what is left, before anything is allocated.
        const qint64 rowBytes = qint64(width) * 4;
        const qint64 left = payload.size() - in.device()->pos();
        if (rowBytes > left || rowBytes * height != left)
            return in.setStatus(QDataStream::ReadCorruptData);
        if (width == 0)
            return;
        QImage picture(width, height, QImage::Format_RGB32);
        if (picture.isNull())
            return in.setStatus(QDataStream::ReadCorruptData);
        for (int y = 0; y < height; ++y)
            in.readRawData(reinterpret_cast<char*>(picture.scanLine(y)), static_cast<int>(rowBytes));
        looked.Picture = std::move(picture);
    });
}

QImage Glance(const QImage& picture)
{
    const int factor = std::min(picture.width(), picture.height()) / kGlanceSide;
    return factor >= 4 ? BlockAverage(picture, factor) : QImage();
}

QByteArray EncodeSharedPicture(const SharedPictureSizes& sizes)
{
    return Encode([&sizes](QDataStream& out) { WriteResult(out, sizes.Result) << sizes.Width << sizes.Height; });
}

std::optional<SharedPictureSizes> DecodeSharedPicture(const QByteArray& payload)
{
    return Decode<SharedPictureSizes>(payload, [](QDataStream& in, SharedPictureSizes& sizes) {
        ReadResult(in, sizes.Result) >> sizes.Width >> sizes.Height;
    });
}

} // namespace pixquill
