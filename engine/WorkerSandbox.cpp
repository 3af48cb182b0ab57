#include "engine/WorkerSandbox.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>

#ifdef __linux__
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <QStringList>

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

// The system call filter, compiled at build time (MakeWorkerFilter.cpp says
// what it allows and refuses); kWorkerFilterOwnPid stands for this process.
constexpr sock_filter kWorkerFilter[] = {
#include "WorkerFilter.inc"
};

bool RestrictWithSeccomp()
{
    std::array<sock_filter, std::size(kWorkerFilter)> program;
    std::copy(std::begin(kWorkerFilter), std::end(kWorkerFilter), program.begin());
    const auto self = static_cast<std::uint32_t>(::getpid());
    for (sock_filter& op : program)
        if (op.k == kWorkerFilterOwnPid)
            op.k = self;
    sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    // The C library's threads started before the lock-down are held too.
    return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter) == 0;
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

SandboxState LockDownWorker(SandboxLayers layers)
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
    if (const int abi = layers.Landlock ? LandlockAbi() : 0; abi > 0 && RestrictWithLandlock(abi))
        state.LandlockAbi = abi;
    state.Seccomp = layers.Seccomp && SeccompAvailable() && RestrictWithSeccomp();
#endif
    return state;
}

} // namespace pixquill
