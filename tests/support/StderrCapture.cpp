#include "tests/support/StderrCapture.h"

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace pixquill::test {

StderrCapture::StderrCapture()
{
    char name[] = "/tmp/pixquill-stderr-XXXXXX";
    m_file = ::mkstemp(name);
    if (m_file < 0)
        return;
    ::unlink(name);
    std::fflush(stderr);
    m_saved = ::dup(2);
    ::dup2(m_file, 2);
}

StderrCapture::~StderrCapture()
{
    Take();
}

QByteArray StderrCapture::Take()
{
    QByteArray captured;
    if (m_saved < 0)
        return captured;
    std::fflush(stderr);
    ::dup2(m_saved, 2);
    ::close(m_saved);
    m_saved = -1;
    ::lseek(m_file, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t got; (got = ::read(m_file, buffer, sizeof buffer)) > 0;)
        captured.append(buffer, static_cast<qsizetype>(got));
    ::close(m_file);
    m_file = -1;
    return captured;
}

} // namespace pixquill::test
