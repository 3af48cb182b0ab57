#include "engine/WorkerSandbox.h"

#include <cerrno>
#include <cstdint>
#include <initializer_list>

#ifdef __linux__
#include <fcntl.h>
#include <linux/landlock.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <seccomp.h>
#endif

#include <QStringList>

namespace pixquill {

namespace {

// The sanitizers' runtimes read /proc and trace the process to report; a
// worker under them runs as an ordinary one.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

#ifdef __linux__

// The system headers may be older than the kernel: the rule set's fields and
// rights up to ABI 6, as the kernel defines them.
struct LandlockRulesetAttr {
    std::uint64_t HandledAccessFs = 0;
    std::uint64_t HandledAccessNet = 0;
    std::uint64_t Scoped = 0;
};
constexpr std::uint64_t kFsRightsAbi1 = (1ULL << 13) - 1; // execute .. make_sym
constexpr std::uint64_t kFsRefer = 1ULL << 13;           // ABI 2
constexpr std::uint64_t kFsTruncate = 1ULL << 14;        // ABI 3
constexpr std::uint64_t kFsIoctlDev = 1ULL << 15;        // ABI 5
constexpr std::uint64_t kNetBindConnectTcp = 3;          // ABI 4
constexpr std::uint64_t kScopeUnixAndSignal = 3;         // ABI 6

int LandlockAbi()
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

// Every right the kernel knows of handled, and no rule granting any: no file
// can be opened by name, no TCP port bound or connected to, no abstract
// socket reached and no process outside signalled.
bool RestrictWithLandlock(int abi)
{
    LandlockRulesetAttr attr;
    attr.HandledAccessFs = kFsRightsAbi1 | (abi >= 2 ? kFsRefer : 0) | (abi >= 3 ? kFsTruncate : 0)
        | (abi >= 5 ? kFsIoctlDev : 0);
    attr.HandledAccessNet = abi >= 4 ? kNetBindConnectTcp : 0;
    attr.Scoped = abi >= 6 ? kScopeUnixAndSignal : 0;
    const size_t size = abi >= 6 ? 3 * sizeof(std::uint64_t) : abi >= 4 ? 2 * sizeof(std::uint64_t)
                                                                         : sizeof(std::uint64_t);
    const long ruleset = ::syscall(SYS_landlock_create_ruleset, &attr, size, 0);
    if (ruleset < 0)
        return false;
    const bool restricted = ::syscall(SYS_landlock_restrict_self, static_cast<int>(ruleset), 0) == 0;
    ::close(static_cast<int>(ruleset));
    return restricted;
}

// The calls a decoder, the renderer and an encoder make, by name so that a
// call this libseccomp does not know on this architecture is left out.
constexpr const char* kAllowed[] = {
    // descriptors held
    "read", "write", "readv", "writev", "pread64", "pwrite64", "preadv", "pwritev", "preadv2", "pwritev2",
    "lseek", "close", "dup", "dup2", "dup3", "ftruncate", "fsync", "fdatasync", "fadvise64",
    "fallocate", "recvmsg", "poll", "ppoll", "select", "pselect6", "epoll_create1", "epoll_ctl",
    "epoll_wait", "epoll_pwait", "pipe", "pipe2", "eventfd2", "memfd_create",
    "sendmsg", // a Look's picture goes back as a memory file over the handover channel
    // looking at names, never opening them (file sizes, canonical names)
    "fstat", "stat", "lstat", "newfstatat", "statx", "access", "faccessat", "faccessat2", "readlink",
    "readlinkat", "getcwd",
    // memory
    "brk", "mmap", "munmap", "mremap", "mprotect", "madvise", "mincore", "membarrier", "get_mempolicy",
    // threads
    "futex", "futex_waitv", "set_robust_list", "get_robust_list", "rseq", "set_tid_address", "sched_yield",
    "sched_getaffinity", "sched_setaffinity", "sched_getparam", "sched_getscheduler", "sched_get_priority_min",
    "sched_get_priority_max", "sched_getattr", "getcpu", "arch_prctl",
    // signals within the process, time, randomness, who and where it is
    "rt_sigaction", "rt_sigprocmask", "rt_sigreturn", "sigaltstack", "restart_syscall", "clock_gettime",
    "clock_getres", "clock_nanosleep", "nanosleep", "gettimeofday", "time", "getrandom", "getpid", "gettid",
    "getppid", "getuid", "geteuid", "getgid", "getegid", "getresuid", "getresgid", "getgroups", "uname",
    "sysinfo", "getrlimit", "getrusage", "exit", "exit_group",
};

// Whatever is not allowed fails with EPERM: new processes and programs
// (fork, vfork, clone without CLONE_THREAD, execve, execveat), sockets,
// ptrace and the other process-inspecting calls, identity changes (the setuid
// family, capset), mounts, module and kernel calls, and every call that
// changes the file system by name.
bool RestrictWithSeccomp()
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter)
        return false;
    bool ok = true;
    const auto add = [&](uint32_t action, const char* name, std::initializer_list<scmp_arg_cmp> args = {}) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call == __NR_SCMP_ERROR)
            return; // not on this architecture
        const int rc = args.size() == 0
            ? seccomp_rule_add(filter, action, call, 0)
            : seccomp_rule_add_array(filter, action, call, static_cast<unsigned>(args.size()), args.begin());
        ok = ok && rc == 0;
    };
    for (const char* name : kAllowed)
        add(SCMP_ACT_ALLOW, name);
    // Opens by name fail as the file system's own refusal does.
    for (const char* name : {"open", "openat", "openat2", "creat", "open_by_handle_at"})
        add(SCMP_ACT_ERRNO(EACCES), name);
    // Threads only, in no new namespace. clone3 passes its flags in memory a
    // filter cannot read: "not implemented" makes the C library fall back to
    // clone, whose flags can be checked.
    constexpr scmp_datum_t namespaces =
        CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS | CLONE_NEWIPC | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET;
    add(SCMP_ACT_ALLOW, "clone", {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD | namespaces, CLONE_THREAD)});
    add(SCMP_ACT_ERRNO(ENOSYS), "clone3");
    // Signals to itself only (abort, raise).
    const auto self = static_cast<scmp_datum_t>(::getpid());
    add(SCMP_ACT_ALLOW, "tgkill", {SCMP_A0(SCMP_CMP_EQ, self)});
    add(SCMP_ACT_ALLOW, "kill", {SCMP_A0(SCMP_CMP_EQ, self)});
    // Descriptor flags, locks and seals; not F_SETOWN and F_SETSIG, through
    // which the kernel would signal another process for it.
    for (const int command : {F_DUPFD, F_DUPFD_CLOEXEC, F_GETFD, F_SETFD, F_GETFL, F_SETFL, F_GETLK, F_SETLK,
                              F_SETLKW, F_OFD_GETLK, F_OFD_SETLK, F_OFD_SETLKW, F_ADD_SEALS, F_GET_SEALS})
        add(SCMP_ACT_ALLOW, "fcntl", {SCMP_A1(SCMP_CMP_EQ, static_cast<scmp_datum_t>(command))});
    // Limits read, never raised.
    add(SCMP_ACT_ALLOW, "prlimit64", {SCMP_A2(SCMP_CMP_EQ, 0)});
    // Thread names and state queries only.
    for (const int option : {PR_SET_NAME, PR_GET_NAME, PR_GET_SECCOMP, PR_GET_NO_NEW_PRIVS, PR_GET_DUMPABLE})
        add(SCMP_ACT_ALLOW, "prctl", {SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(option))});
    // A terminal may be asked what it is (isatty), never told anything.
    for (const unsigned long request : {TCGETS, FIONREAD})
        add(SCMP_ACT_ALLOW, "ioctl", {SCMP_A1(SCMP_CMP_EQ, request)});
    // The C library's threads start before the lock-down hold it too.
    ok = ok && seccomp_attr_set(filter, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    ok = ok && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return ok;
}

bool SeccompAvailable()
{
    return ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0;
}

#endif // __linux__

} // namespace

SandboxState AvailableSandbox()
{
    SandboxState state;
    if (kSanitized) {
        state.Missing = QStringLiteral("not in sanitizer builds");
        return state;
    }
#ifdef __linux__
    state.NoNewPrivileges = true;
    state.Seccomp = SeccompAvailable();
    state.LandlockAbi = LandlockAbi();
    if (!state.Seccomp && state.LandlockAbi == 0)
        state.Missing = QStringLiteral("this kernel has neither seccomp nor Landlock");
#else
    state.Missing = QStringLiteral("only on Linux");
#endif
    return state;
}

QString DescribeSandbox(const SandboxState& state)
{
    if (!state.Seccomp && state.LandlockAbi == 0)
        return QStringLiteral("decode workers: not sandboxed (%1)").arg(state.Missing);
    QStringList parts;
    if (state.Seccomp)
        parts << QStringLiteral("seccomp");
    if (state.LandlockAbi > 0)
        parts << QStringLiteral("Landlock %1").arg(state.LandlockAbi);
    else
        parts << QStringLiteral("no Landlock on this kernel");
    if (!state.Seccomp)
        parts << QStringLiteral("no seccomp on this kernel");
    return QStringLiteral("decode workers: sandboxed (%1)").arg(parts.join(QStringLiteral(", ")));
}

SandboxState LockDownWorker()
{
    SandboxState state;
    if (kSanitized) {
        state.Missing = QStringLiteral("not in sanitizer builds");
        return state;
    }
#ifdef __linux__
    // Landlock needs it, and it keeps a set-user-ID program from raising the
    // rights of anything this process could still start.
    state.NoNewPrivileges = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
    if (!state.NoNewPrivileges)
        return state;
    if (const int abi = LandlockAbi(); abi > 0 && RestrictWithLandlock(abi))
        state.LandlockAbi = abi;
    state.Seccomp = SeccompAvailable() && RestrictWithSeccomp();
#endif
    return state;
}

} // namespace pixquill
