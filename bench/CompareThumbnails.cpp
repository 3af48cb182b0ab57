// pixquill_compare: compares two folders of thumbnails file by file, for the
// benchmarks of the fast road: every size must match, and the pixels are
// summed up as PSNR over the three colour channels (8 bits each).
//
//   pixquill_compare REFERENCE CANDIDATE
//
// Prints one line per file ("name reference-size candidate-size PSNR-dB",
// inf for identical pixels), then "files N size-mismatches M missing K
// min-psnr X mean-psnr Y". Exit status 0 when every file is there with its
// size, 1 otherwise.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <QDir>
#include <QImage>

namespace {

// Over every pixel and the three colour channels.
double Psnr(const QImage& a, const QImage& b)
{
    double squares = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const double dr = qRed(p[x]) - qRed(q[x]);
            const double dg = qGreen(p[x]) - qGreen(q[x]);
            const double db = qBlue(p[x]) - qBlue(q[x]);
            squares += dr * dr + dg * dg + db * db;
        }
    }
    const double mse = squares / (3.0 * a.width() * a.height());
    if (mse == 0)
        return std::numeric_limits<double>::infinity();
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pixquill_compare REFERENCE CANDIDATE\n");
        return 2;
    }
    const QDir reference(QString::fromLocal8Bit(argv[1]));
    const QDir candidate(QString::fromLocal8Bit(argv[2]));
    int files = 0;
    int mismatches = 0;
    int missing = 0;
    int measured = 0;
    double minimum = std::numeric_limits<double>::infinity();
    double sum = 0;
    for (const QString& name : reference.entryList(QDir::Files, QDir::Name)) {
        ++files;
        const QImage a = QImage(reference.filePath(name)).convertToFormat(QImage::Format_RGB32);
        const QImage b = QImage(candidate.filePath(name)).convertToFormat(QImage::Format_RGB32);
        if (b.isNull()) {
            ++missing;
            std::printf("%s missing\n", qPrintable(name));
            continue;
        }
        if (a.size() != b.size()) {
            ++mismatches;
            std::printf("%s %dx%d %dx%d size-mismatch\n", qPrintable(name), a.width(), a.height(), b.width(),
                        b.height());
            continue;
        }
        const double psnr = Psnr(a, b);
        std::printf("%s %dx%d %dx%d %.2f\n", qPrintable(name), a.width(), a.height(), b.width(), b.height(), psnr);
        minimum = std::min(minimum, psnr);
        // Identical files count as 99 dB in the mean, so that one of them
        // does not make the mean infinite.
        sum += std::isinf(psnr) ? 99.0 : psnr;
        ++measured;
    }
    std::printf("files %d size-mismatches %d missing %d min-psnr %.2f mean-psnr %.2f\n", files, mismatches, missing,
                minimum, measured ? sum / measured : 0.0);
    return mismatches == 0 && missing == 0 ? 0 : 1;
}
