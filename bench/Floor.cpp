// pixquill_floor: the least a thumbnail job can cost with the same libraries.
// It makes exactly the FreeImage (and, for the filter "None", Qt) calls of the
// job with nothing around them: no surfaces, no checks, no atomic save. The
// benchmarks measure Pixquill against it.
//
//   full decode (floor 1):  load (JPEG: accurate, EXIF-rotated), convert to
//       32 bits, rescale with a FreeImage filter or Qt's area average,
//       convert to 24 bits, save
//   --hint (floor 2):        the same, but a JPEG is decoded at the smallest
//       of libjpeg's 1/2, 1/4, 1/8 scales that still gives at least twice the
//       thumbnail in both directions (FreeImage's size hint), with the
//       thumbnail's size taken from the real, upright image size, read from
//       the file's markers
//   --procs N:               the files dealt out round-robin to N processes
//
// Thumbnails fit in the box (width first, then height, on the rounded width;
// never enlarged) and are written as FreeImage's default JPEG, named as
// Pixquill names them ("_TH" + the name up to its first dot + ".jpg").
//
// A benchmark tool: it calls FreeImage directly on purpose. From Pixquill it
// takes only the JPEG marker reader and the scale rule of the fast road, so
// that both decode the same way.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

#include <QImage>

#include <FreeImage.h>

#include "codec/ReducedJpeg.h"
#include "codec/Rounding.h"
#include "codec/VectorUnit.h"

namespace {

struct Options {
    bool Hint = false;
    int Procs = 1;
    int Filter = -1; // -1: Qt's area average; 0..5 a FreeImage filter
    int BoxWidth = 100;
    int BoxHeight = 100;
    std::string Destination;
    std::vector<std::string> Files;
};

[[noreturn]] void Usage()
{
    std::fprintf(stderr,
                 "usage: pixquill_floor [--hint] [--procs N] [--filter none|bspline|bicubic|bilinear|box|"
                 "catmullrom|lanczos3] [--box W H] DEST FILE...\n");
    std::exit(2);
}

int FilterCode(const std::string& name)
{
    static const char* const names[] = {"box", "bicubic", "bilinear", "bspline", "catmullrom", "lanczos3"};
    if (name == "none")
        return -1;
    for (int i = 0; i < 6; ++i) {
        if (name == names[i])
            return i; // FREE_IMAGE_FILTER order
    }
    Usage();
}

// Fit into the box: width first, then the height on the rounded width.
void FitBox(int width, int height, int boxWidth, int boxHeight, int& a, int& b)
{
    a = width;
    b = height;
    if (a > boxWidth) {
        b = pixquill::RoundHalfEven(static_cast<double>(boxWidth) / a * b);
        a = boxWidth;
    }
    if (b > boxHeight) {
        a = pixquill::RoundHalfEven(static_cast<double>(boxHeight) / b * a);
        b = boxHeight;
    }
}

// The JPEG size hint that makes FreeImage pick the smallest libjpeg scale
// keeping at least twice the thumbnail (0: decode in full). FreeImage divides
// the longer stored side by the hint and takes the largest of 8, 4, 2 that
// the quotient reaches. realWidth and realHeight receive the upright size.
// The size is read from the markers, the cheapest way there is: FreeImage's
// own header-only load decodes most of a progressive file.
int SizeHint(const char* path, const Options& options, int& realWidth, int& realHeight)
{
    const pixquill::JpegHeader header = pixquill::ReadJpegHeader(QString::fromLocal8Bit(path));
    if (!header.Ok)
        return 0;
    realWidth = header.Width;
    realHeight = header.Height;
    int a = 0;
    int b = 0;
    FitBox(realWidth, realHeight, options.BoxWidth, options.BoxHeight, a, b);
    const int scale = pixquill::ChooseJpegScale(header, a, b);
    return scale == 1 ? 0 : std::max(header.StoredWidth, header.StoredHeight) / scale;
}

bool MakeThumbnail(const std::string& file, const Options& options)
{
    const char* path = file.c_str();
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(path, 0);
    if (format == FIF_UNKNOWN)
        format = FreeImage_GetFIFFromFilename(path);
    if (format == FIF_UNKNOWN)
        return false;
    int flags = 0;
    int realWidth = 0;
    int realHeight = 0;
    if (format == FIF_JPEG) {
        flags = JPEG_ACCURATE | JPEG_EXIFROTATE;
        if (options.Hint)
            flags |= SizeHint(path, options, realWidth, realHeight) << 16;
    }
    FIBITMAP* decoded = FreeImage_Load(format, path, flags);
    if (!decoded)
        return false;
    // 16-bit and float samples become 8 bits per channel first.
    if (FreeImage_GetImageType(decoded) != FIT_BITMAP) {
        FIBITMAP* standard = FreeImage_ConvertTo24Bits(decoded);
        FreeImage_Unload(decoded);
        decoded = standard;
        if (!decoded)
            return false;
    }
    const int width = static_cast<int>(FreeImage_GetWidth(decoded));
    const int height = static_cast<int>(FreeImage_GetHeight(decoded));
    // The thumbnail's size comes from the real image size, even when the
    // hint made FreeImage decode it smaller.
    if ((flags >> 16) == 0) {
        realWidth = width;
        realHeight = height;
    }
    int a = 0;
    int b = 0;
    FitBox(realWidth, realHeight, options.BoxWidth, options.BoxHeight, a, b);

    FIBITMAP* thumb = nullptr;
    if (options.Filter < 0) {
        // Into a top-down 32-bit image for Qt, area average, and back.
        QImage image(width, height, QImage::Format_RGB32);
        FreeImage_ConvertToRawBits(image.bits(), decoded, static_cast<int>(image.bytesPerLine()), 32,
                                   FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, TRUE);
        FreeImage_Unload(decoded);
        QImage scaled = image.scaled(a, b, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        image = QImage();
        // Qt's AVX code leaves the vector unit in a state that slows the SSE
        // code of FreeImage (and of libjpeg's next decode) down to a third.
        pixquill::ClearUpperVectorState();
        thumb = FreeImage_ConvertFromRawBits(scaled.bits(), a, b, static_cast<int>(scaled.bytesPerLine()), 32,
                                             FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK, FI_RGBA_BLUE_MASK, TRUE);
    } else {
        FIBITMAP* converted = FreeImage_ConvertTo32Bits(decoded);
        FreeImage_Unload(decoded);
        if (!converted)
            return false;
        // Without the metadata: Pixquill's thumbnails carry none either.
        thumb = FreeImage_RescaleRect(converted, a, b, 0, 0, width, height,
                                      static_cast<FREE_IMAGE_FILTER>(options.Filter), FI_RESCALE_OMIT_METADATA);
        FreeImage_Unload(converted);
    }
    if (!thumb)
        return false;
    FIBITMAP* rgb = FreeImage_ConvertTo24Bits(thumb);
    FreeImage_Unload(thumb);
    if (!rgb)
        return false;

    std::string name = file.substr(file.find_last_of('/') + 1);
    name = name.substr(0, name.find('.'));
    const std::string output = options.Destination + "/_TH" + name + ".jpg";
    const bool saved = FreeImage_Save(FIF_JPEG, rgb, output.c_str(), 0);
    FreeImage_Unload(rgb);
    return saved;
}

int RunShare(const Options& options, int share)
{
    int failed = 0;
    for (std::size_t i = static_cast<std::size_t>(share); i < options.Files.size();
         i += static_cast<std::size_t>(options.Procs)) {
        if (!MakeThumbnail(options.Files[i], options)) {
            std::fprintf(stderr, "pixquill_floor: %s not written\n", options.Files[i].c_str());
            ++failed;
        }
    }
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    Options options;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string arg = argv[i];
        if (arg == "--hint")
            options.Hint = true;
        else if (arg == "--procs" && i + 1 < argc)
            options.Procs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--filter" && i + 1 < argc)
            options.Filter = FilterCode(argv[++i]);
        else if (arg == "--box" && i + 2 < argc) {
            options.BoxWidth = std::atoi(argv[++i]);
            options.BoxHeight = std::atoi(argv[++i]);
        } else
            Usage();
    }
    if (argc - i < 2)
        Usage();
    options.Destination = argv[i++];
    for (; i < argc; ++i)
        options.Files.emplace_back(argv[i]);

    // FreeImage's shared library initialises itself when it is loaded.
    if (options.Procs == 1)
        return RunShare(options, 0);
    std::vector<pid_t> children;
    for (int share = 0; share < options.Procs; ++share) {
        const pid_t pid = fork();
        if (pid == 0)
            std::_Exit(RunShare(options, share));
        if (pid > 0)
            children.push_back(pid);
    }
    int result = 0;
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            result = 1;
    }
    return result;
}
