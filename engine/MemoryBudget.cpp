#include "engine/MemoryBudget.h"

#include <algorithm>
#include <cmath>

#include <QFile>

#include "codec/Surface.h"

namespace pixquill {

namespace {

constexpr std::uint64_t kKiB = 1024;
constexpr double kMostBytes = 1e18;

} // namespace

Outcome<std::uint64_t> ParseMemorySize(const QString& text)
{
    QString number = text.trimmed();
    double unit = 1;
    if (!number.isEmpty()) {
        static const QString units = QStringLiteral("KMGT");
        const qsizetype power = units.indexOf(number.back().toUpper());
        if (power >= 0) {
            unit = std::pow(double(kKiB), double(power + 1));
            number.chop(1);
        } else if (number.back().toUpper() == QLatin1Char('B')) {
            number.chop(1);
        }
    }
    bool ok = false;
    const double value = number.toDouble(&ok);
    // toDouble takes "inf", "nan" and exponents; a size is plain digits.
    const bool plain = !number.isEmpty()
                       && std::all_of(number.begin(), number.end(),
                                      [](QChar c) { return c.isDigit() || c == QLatin1Char('.'); });
    const double bytes = value * unit;
    if (!ok || !plain || !(bytes >= 1) || bytes > kMostBytes)
        return Failure{QStringLiteral("\"%1\" is not a memory size (such as 4G or 6000M)").arg(text)};
    return static_cast<std::uint64_t>(bytes);
}

QString MemoryText(std::uint64_t bytes)
{
    static const char* const names[] = {"bytes", "KB", "MB", "GB", "TB", "PB"};
    double value = double(bytes);
    int unit = 0;
    while (value >= double(kKiB) && unit < 5) {
        value /= double(kKiB);
        ++unit;
    }
    if (unit == 0)
        return QStringLiteral("%1 bytes").arg(bytes);
    // One decimal below 10 where it is not 0: "5.1 GB", "4 GB", "800 MB".
    const double tenths = std::round(value * 10) / 10;
    const bool whole = tenths >= 10 || tenths == std::floor(tenths);
    return QStringLiteral("%1 %2").arg(whole ? QString::number(std::round(value), 'f', 0)
                                             : QString::number(tenths, 'f', 1),
                                       QLatin1String(names[unit]));
}

QString MemoryRefusal(std::uint64_t needed, std::uint64_t limit)
{
    return QStringLiteral("needs about %1, the limit is %2").arg(MemoryText(needed), MemoryText(limit));
}

std::optional<std::uint64_t> MemAvailableOf(const QByteArray& meminfo)
{
    for (const QByteArray& line : meminfo.split('\n')) {
        if (!line.startsWith("MemAvailable:"))
            continue;
        bool ok = false;
        const qulonglong kib = line.mid(13).trimmed().split(' ').first().toULongLong(&ok);
        if (ok)
            return std::uint64_t{kib} * kKiB;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> DefaultMemoryLimit()
{
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (!meminfo.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<std::uint64_t> available = MemAvailableOf(meminfo.readAll());
    if (!available || *available == 0)
        return std::nullopt;
    return *available / 2;
}

void ReleaseLargePicture(Surface& surface)
{
    if (surface.Image().sizeInBytes() <= kKeptPictureBytes && surface.Picture().sizeInBytes() <= kKeptPictureBytes)
        return;
    surface.SetPicture(QImage());
    surface.ResizeForOverwrite(0, 0);
}

std::uint64_t WorkerAddressSpace(std::uint64_t budget)
{
    // AddressSanitizer and ThreadSanitizer reserve terabytes of address
    // space for their shadow memory up front: under any limit a worker could
    // not even start.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return 0;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return 0;
#endif
#endif
    return budget + kWorkerMappedBytes;
}

} // namespace pixquill
