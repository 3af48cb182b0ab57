// pixquill_test_confine REFUSED PROGRAM [ARGUMENT...]: runs PROGRAM under a
// system call filter that refuses, with EPERM, what REFUSED names (a comma
// list, or "none"), and lets everything else through, as a host sandbox
// (bubblewrap under a stricter filter, a container's profile) would:
//
// - seccomp: the seccomp() call;
// - seccomp-prctl: prctl(PR_SET_SECCOMP);
// - landlock: the three Landlock calls;
// - no-new-privs: prctl(PR_SET_NO_NEW_PRIVS) (set already, as bubblewrap
//   leaves it);
// - capset: capset(), and prctl(PR_CAPBSET_DROP).
//
// It sets no-new-privileges itself first, as such a host does, so that the
// filter can be installed without rights.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/prctl.h>
#include <unistd.h>

#include <seccomp.h>

namespace {

bool Refuse(scmp_filter_ctx filter, const char* call)
{
    return seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), seccomp_syscall_resolve_name(call), 0) == 0;
}

bool RefusePrctl(scmp_filter_ctx filter, int option)
{
    return seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(prctl), 1,
                            SCMP_A0(SCMP_CMP_EQ, static_cast<scmp_datum_t>(option)))
        == 0;
}

bool AddRefusal(scmp_filter_ctx filter, const std::string& what)
{
    if (what == "none")
        return true;
    if (what == "seccomp")
        return Refuse(filter, "seccomp");
    if (what == "seccomp-prctl")
        return RefusePrctl(filter, PR_SET_SECCOMP);
    if (what == "landlock")
        return Refuse(filter, "landlock_create_ruleset") && Refuse(filter, "landlock_add_rule")
            && Refuse(filter, "landlock_restrict_self");
    if (what == "no-new-privs")
        return RefusePrctl(filter, PR_SET_NO_NEW_PRIVS);
    if (what == "capset")
        return Refuse(filter, "capset") && RefusePrctl(filter, PR_CAPBSET_DROP);
    return false;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: pixquill_test_confine REFUSED PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter)
        return 2;
    const std::string refused = argv[1];
    for (std::size_t start = 0; start <= refused.size();) {
        const std::size_t comma = refused.find(',', start);
        const std::string what = refused.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!AddRefusal(filter, what)) {
            std::fprintf(stderr, "pixquill_test_confine: cannot refuse \"%s\"\n", what.c_str());
            return 2;
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || seccomp_load(filter) != 0) {
        std::fprintf(stderr, "pixquill_test_confine: cannot install the filter\n");
        return 2;
    }
    seccomp_release(filter);
    ::execv(argv[2], argv + 2);
    std::fprintf(stderr, "pixquill_test_confine: %s: %s\n", argv[2], std::strerror(errno));
    return 127;
}
