// libFuzzer target: arbitrary bytes through the batch's own road for one
// image. The bytes become a file (the loader reads files, and its detection
// falls back on the extension), then ProcessImage loads, renders and saves it
// exactly as a batch does. Built by scripts/fuzz.sh with clang.

#include <cstddef>
#include <cstdint>
#include <memory>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <FreeImage.h>

#include "codec/DecoderTable.h"
#include "codec/InputSource.h"
#include "codec/Surface.h"
#include "engine/ProcessImage.h"
#include "tests/fuzz/FuzzCase.h"

using namespace pixquill;

namespace {

// Headers that declare more pixels than this are passed over. The loader
// accepts up to 2^28; the time and memory such images take are its size
// guard's business, tested on their own, and here they only slow the search.
constexpr std::uint64_t kMaxFuzzPixels = std::uint64_t{1} << 22;

bool DeclaresHugeImage(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    // The decoder's own header step where its row has one (camera RAW,
    // HEIF, JPEG), FreeImage's header-only load for the rest.
    QString error;
    if (const std::unique_ptr<InputSource> file = OpenRegularFile(name, error)) {
        const DecoderRow* row = FindDecoder(file->Reader(), file->Size(), ExtensionOf(name));
        if (row && row->Header) {
            const UprightSize size = row->Header(file->Reader(), file->Size());
            return std::uint64_t(size.Width) * std::uint64_t(size.Height) > kMaxFuzzPixels;
        }
    }
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(name.constData(), 0);
    if (format == FIF_UNKNOWN)
        format = FreeImage_GetFIFFromFilename(name.constData());
    if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsNoPixels(format))
        return false;
    FIBITMAP* header = FreeImage_Load(format, name.constData(), FIF_LOAD_NOPIXELS);
    if (!header)
        return false;
    const std::uint64_t pixels = std::uint64_t{FreeImage_GetWidth(header)} * FreeImage_GetHeight(header);
    FreeImage_Unload(header);
    return pixels > kMaxFuzzPixels;
}

struct Workspace {
    QTemporaryDir Root;
    QString Source = Root.filePath(QStringLiteral("in"));
    QString Destination = Root.filePath(QStringLiteral("out"));
    // Kept from one input to the next, as a batch worker keeps its own.
    Surface PicLoad;
    Surface PicThumb;

    Workspace()
    {
        QDir().mkdir(Source);
        QDir().mkdir(Destination);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Workspace* workspace = new Workspace; // lives as long as the fuzzer
    const fuzz::FuzzInput input =
        fuzz::SplitFuzzInput(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const QString name = QStringLiteral("input.") + input.Extension;
    const QString path = workspace->Source + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(input.Content);
    file.close();

    if (!DeclaresHugeImage(path)) {
        const ImageResult result =
            ProcessImage(name, fuzz::FuzzJob(workspace->Source, workspace->Destination, input.Content.size()),
                         workspace->PicLoad, workspace->PicThumb);
        QFile::remove(result.OutputPath);
    }
    QFile::remove(path);
    return 0;
}
