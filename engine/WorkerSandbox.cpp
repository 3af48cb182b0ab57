#include "engine/WorkerSandbox.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <iterator>
#include <type_traits>

#ifdef __linux__
#include <csignal>

#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>
#endif

#include <QStringList>

#include "codec/SystemError.h"
#include "engine/WorkerFilterPid.h"

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

// The kernel's Landlock ABI; 0 with errno set where there is none to use.
int LandlockAbi()
{
    const long abi = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    return abi > 0 ? static_cast<int>(abi) : 0;
}

// Why the version query found no Landlock, from its errno.
QString LandlockMissing(int error)
{
    if (error == ENOSYS)
        return QStringLiteral("Landlock not in this kernel");
    if (error == EOPNOTSUPP)
        return QStringLiteral("Landlock switched off in this kernel");
    return QStringLiteral("Landlock refused (%1)").arg(SystemError(error));
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
    const int error = errno;
    ::close(static_cast<int>(ruleset));
    errno = error;
    return restricted;
}

// The system call filter, compiled at build time (MakeWorkerFilter.cpp says
// what it allows and refuses); kWorkerFilterOwnPid stands for this process.
constexpr sock_filter kWorkerFilter[] = {
#include "WorkerFilter.inc"
};

// A newfstatat the filter trapped, always one with AT_EMPTY_PATH: answered
// with fstat where the path is empty (the C library's fstat), refused where
// a path is given, which that flag does not stop from being looked up. Only
// a system call and register moves, safe in a signal handler. A taken-over
// decoder may put another handler in place: the call still never runs.
#if defined(__x86_64__) || defined(__aarch64__)
static_assert(kWorkerFilterTrapsFstatat);
extern "C" void AnswerTrappedFstatat(int, siginfo_t* info, void* context)
{
    const int saved = errno;
    auto* machine = &static_cast<ucontext_t*>(context)->uc_mcontext;
#if defined(__x86_64__)
    const long fd = machine->gregs[REG_RDI];
    const auto* path = reinterpret_cast<const char*>(machine->gregs[REG_RSI]);
    const long buffer = machine->gregs[REG_RDX];
    auto& answer = machine->gregs[REG_RAX];
#elif defined(__aarch64__)
    const auto fd = static_cast<long>(machine->regs[0]);
    const auto* path = reinterpret_cast<const char*>(machine->regs[1]);
    const auto buffer = static_cast<long>(machine->regs[2]);
    auto& answer = machine->regs[0];
#endif
    long result = -EPERM;
    if (info->si_syscall == SYS_newfstatat && path != nullptr && path[0] == '\0')
        result = ::syscall(SYS_fstat, fd, buffer) == 0 ? 0 : -errno;
    answer = static_cast<std::remove_reference_t<decltype(answer)>>(result);
    errno = saved;
}
#endif

// Installs the filter; false with errno set when both roads are refused.
bool RestrictWithSeccomp()
{
#if defined(__x86_64__) || defined(__aarch64__)
    struct sigaction action {};
    action.sa_sigaction = AnswerTrappedFstatat;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGSYS, &action, nullptr) != 0)
        return false;
#endif
    std::array<sock_filter, std::size(kWorkerFilter)> program;
    std::copy(std::begin(kWorkerFilter), std::end(kWorkerFilter), program.begin());
    const auto self = static_cast<std::uint32_t>(::getpid());
    for (sock_filter& op : program)
        if (op.k == kWorkerFilterOwnPid)
            op.k = self;
    sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    // Any thread started before the lock-down is held too.
    if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter) == 0)
        return true;
    // A filter around this process may refuse the seccomp() call and still
    // let the older road through; it holds for this thread and those it
    // starts, which is all there is while the worker has one thread.
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) == 0;
}

bool SeccompAvailable()
{
    return ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0;
}

// Every capability dropped: the ambient and bounding sets where this process
// may (dropping from the bounding set needs CAP_SETPCAP, which a process
// without capabilities has no use for), then the effective, permitted and
// inheritable sets. True when none is held afterwards, whatever was refused
// on the way; false with errno set otherwise.
bool DropCapabilities()
{
    ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    for (unsigned long cap = 0; ::prctl(PR_CAPBSET_READ, cap, 0, 0, 0) >= 0; ++cap)
        ::prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> none{};
    const int error = ::syscall(SYS_capset, &header, none.data()) == 0 ? 0 : errno;
    std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> held{};
    if (::syscall(SYS_capget, &header, held.data()) != 0)
        return false;
    for (const __user_cap_data_struct& word : held) {
        if (word.effective != 0 || word.permitted != 0 || word.inheritable != 0) {
            errno = error != 0 ? error : EPERM;
            return false;
        }
    }
    return true; // the ambient set holds nothing the permitted set lacks
}

#endif // __linux__

} // namespace

SandboxState AvailableSandbox()
{
    SandboxState state;
    if (kSanitized) {
        state.Missing = QStringLiteral("not in sanitizer builds");
        state.Deliberate = true;
        return state;
    }
#ifdef __linux__
    QStringList missing;
    state.NoNewPrivileges = true;
    state.NoCapabilities = true;
    state.Seccomp = SeccompAvailable();
    if (!state.Seccomp)
        missing << QStringLiteral("seccomp not in this kernel");
    state.LandlockAbi = LandlockAbi();
    if (state.LandlockAbi == 0)
        missing << LandlockMissing(errno);
    state.Missing = missing.join(QStringLiteral(", "));
#else
    state.Missing = QStringLiteral("only on Linux");
#endif
    return state;
}

QString DescribeSandbox(const SandboxState& state)
{
    QStringList held;
    if (state.Seccomp)
        held << QStringLiteral("seccomp");
    if (state.LandlockAbi > 0)
        held << QStringLiteral("Landlock %1").arg(state.LandlockAbi);
    if (held.isEmpty())
        return QStringLiteral("decode workers: not sandboxed (%1)").arg(state.Missing);
    if (state.NoCapabilities)
        held << QStringLiteral("no capabilities");
    if (state.Missing.isEmpty())
        return QStringLiteral("decode workers: sandboxed (%1)").arg(held.join(QStringLiteral(", ")));
    return QStringLiteral("decode workers: partly sandboxed (%1; %2)")
        .arg(held.join(QStringLiteral(", ")), state.Missing);
}

QString SandboxNote(const SandboxState& state)
{
    if (state.Missing.isEmpty() || state.Deliberate)
        return {};
    return QStringLiteral("decoding is not sandboxed here: ") + state.Missing;
}

SandboxState LockDownWorker(SandboxLayers layers)
{
    SandboxState state;
    if (kSanitized) {
        state.Missing = QStringLiteral("not in sanitizer builds");
        state.Deliberate = true;
        return state;
    }
#ifdef __linux__
    QStringList missing;
    const auto refused = [&missing](const char* layer) {
        missing << QStringLiteral("%1 refused (%2)").arg(QLatin1String(layer), SystemError(errno));
    };
    // Landlock needs it, and it keeps a set-user-ID program from raising the
    // rights of anything this process could still start. Set already by
    // whoever started the process (a container, bubblewrap) is as good.
    state.NoNewPrivileges =
        ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 || ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1;
    if (!state.NoNewPrivileges)
        refused("no-new-privileges");
    if (layers.Landlock) {
        if (const int abi = LandlockAbi(); abi == 0)
            missing << LandlockMissing(errno);
        else if (RestrictWithLandlock(abi))
            state.LandlockAbi = abi;
        else
            refused("Landlock");
    }
    // Before the filter, which refuses capset.
    state.NoCapabilities = DropCapabilities();
    if (!state.NoCapabilities)
        missing << QStringLiteral("capabilities kept (%1)").arg(SystemError(errno));
    if (layers.Seccomp) {
        if (!SeccompAvailable())
            missing << QStringLiteral("seccomp not in this kernel");
        else if (RestrictWithSeccomp())
            state.Seccomp = true;
        else
            refused("seccomp");
    }
    state.Missing = missing.join(QStringLiteral(", "));
#else
    state.Missing = QStringLiteral("only on Linux");
#endif
    return state;
}

} // namespace pixquill
