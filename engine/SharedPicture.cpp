#include "engine/SharedPicture.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/mman.h>
#endif

#include "engine/WorkerProtocol.h"

namespace pixquill {

namespace {

Failure SystemFailure(const char* what)
{
    return Failure{QString::fromLatin1(what) + QStringLiteral(" [") + QString::fromLocal8Bit(std::strerror(errno))
                   + QLatin1Char(']')};
}

#ifdef __linux__
// What the window needs from the sender: the file can neither shrink under
// the mapping (a read past its end would fault) nor change afterwards.
constexpr int kNeededSeals = F_SEAL_SHRINK | F_SEAL_WRITE;

bool WriteAll(int fd, const uchar* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(std::min<qint64>(size, 1 << 30)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}
#endif

} // namespace

Outcome<int> MakeSharedPicture(const QImage& picture)
{
#ifdef __linux__
    if (picture.isNull() || picture.format() != QImage::Format_RGB32)
        return Failure{QStringLiteral("not a picture")};
    const int fd = ::memfd_create("pixquill-picture", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0)
        return SystemFailure("cannot make a memory file");
    // Written, not mapped: the pages are filled by one copy in the kernel,
    // and no writable mapping stands in the way of the write seal.
    const qint64 rowBytes = qint64(picture.width()) * 4;
    bool written = true;
    if (picture.bytesPerLine() == rowBytes) {
        written = WriteAll(fd, picture.constBits(), rowBytes * picture.height());
    } else {
        for (int y = 0; written && y < picture.height(); ++y)
            written = WriteAll(fd, picture.constScanLine(y), rowBytes);
    }
    if (!written || ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        const Failure failure = SystemFailure("cannot fill the memory file");
        ::close(fd);
        return failure;
    }
    return fd;
#else
    Q_UNUSED(picture);
    return Failure{QStringLiteral("no memory files here")};
#endif
}

Outcome<QImage> MapSharedPicture(int fd, int width, int height)
{
#ifdef __linux__
    if (width <= 0 || height <= 0 || qint64(width) * height > kMaxLookedPixels)
        return Failure{QStringLiteral("the picture's size is out of range (%1 x %2)").arg(width).arg(height)};
    const qint64 bytes = qint64(width) * height * 4;
    struct stat status {};
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
        return Failure{QStringLiteral("no memory file came with the picture")};
    // Only memory files made for sealing answer this; a file on a disk or a
    // pipe gives an error.
    const int seals = ::fcntl(fd, F_GET_SEALS);
    if (seals < 0 || (seals & kNeededSeals) != kNeededSeals)
        return Failure{QStringLiteral("the picture's memory file is not sealed")};
    if (status.st_size != bytes) {
        return Failure{QStringLiteral("the picture's memory file holds %1 bytes, not %2")
                           .arg(qint64(status.st_size))
                           .arg(bytes)};
    }
    // Private and writable: the picture may be drawn on like any other (a
    // page copied when it is first written), and the file stays as it was.
    void* mapped = ::mmap(nullptr, static_cast<size_t>(bytes), PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
    if (mapped == MAP_FAILED)
        return SystemFailure("cannot map the picture's memory file");
    // The file's pages mapped for reading in one go, which costs less than a
    // fault per page as the picture is read (MAP_POPULATE would copy them all,
    // the mapping being private and writable). A kernel without it faults.
    ::madvise(mapped, static_cast<size_t>(bytes), MADV_POPULATE_READ);
    struct Mapping {
        void* Address;
        size_t Bytes;
    };
    const auto unmap = [](void* info) {
        const auto* mapping = static_cast<Mapping*>(info);
        ::munmap(mapping->Address, mapping->Bytes);
        delete mapping;
    };
    auto* mapping = new Mapping{mapped, static_cast<size_t>(bytes)};
    QImage picture(static_cast<uchar*>(mapped), width, height, qsizetype(width) * 4, QImage::Format_RGB32, unmap,
                   mapping);
    if (picture.isNull()) {
        unmap(mapping);
        return Failure{QStringLiteral("out of memory")};
    }
    return picture;
#else
    Q_UNUSED(fd);
    Q_UNUSED(width);
    Q_UNUSED(height);
    return Failure{QStringLiteral("no memory files here")};
#endif
}

} // namespace pixquill
