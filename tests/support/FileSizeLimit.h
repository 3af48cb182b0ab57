#pragma once

// The system refuses writes past a size in any file of this process, the way
// a full disk does; SIGXFSZ is ignored meanwhile, so a refused write returns
// EFBIG ("File too large") instead of ending the process.

#include <csignal>

#include <sys/resource.h>

namespace pixquill::test {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved {};
    void (*m_handler)(int) = SIG_DFL;
};

} // namespace pixquill::test
