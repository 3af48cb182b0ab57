#pragma once

#include <cstring>

#include <QString>

namespace pixquill {

// The system's own words for an errno value, for the end of a reason:
// "cannot write the file (No space left on device)".
inline QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace pixquill
