#pragma once

#include <QByteArray>

namespace pixquill::test {

// Sends everything written to file descriptor 2 (by this process or a
// library inside it) into a temporary file while it lives; Take() ends the
// capture, puts stderr back and returns what was written.
class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture();

    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    QByteArray Take();

private:
    int m_saved = -1;
    int m_file = -1;
};

} // namespace pixquill::test
