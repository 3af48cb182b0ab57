#pragma once

// Memory figures of this process from /proc/self/status, for the benchmarks.

#include <QByteArray>
#include <QFile>
#include <QString>

namespace pixquill::bench {

// One "Vm...:" field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1
// when it cannot be read.
inline long StatusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(static_cast<int>(qstrlen(field))).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// The high-water mark of this process's resident size (VmHWM). Unlike
// getrusage's ru_maxrss, it starts afresh at exec, so the parent's size at
// the time it spawned the child does not leak into the child's figure.
inline long PeakResidentKiB() { return StatusKiB("VmHWM:"); }

} // namespace pixquill::bench
