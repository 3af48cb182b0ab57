// pixquill_make_worker_filter OUTPUT: writes the decode workers' system call
// filter as a compiled BPF program, an initialiser list for WorkerSandbox.cpp.
// It runs at build time, so that a worker only hands the kernel a finished
// program: compiling the rules through libseccomp at every worker's start
// cost about as much as all the rest of its lock-down.
//
// The one value known only at run time, the worker's own process id (a worker
// may signal itself and nobody else), is written as kWorkerFilterOwnPid; the
// worker puts its id in its place. The program is for the architecture this
// runs on, which is the one the workers are built for: cross builds are not
// supported.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include <fcntl.h>
#include <linux/filter.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <seccomp.h>

#include "engine/WorkerFilterPid.h"

namespace {

// The calls a decoder, the renderer and an encoder make, by name so that a
// call this libseccomp does not know on this architecture is left out.
constexpr const char* kAllowed[] = {
    // descriptors held
    "read", "write", "readv", "writev", "pread64", "pwrite64", "preadv", "pwritev", "preadv2", "pwritev2",
    "lseek", "close", "dup", "dup2", "dup3", "ftruncate", "fsync", "fdatasync", "fadvise64",
    "fallocate", "recvmsg", "poll", "ppoll", "select", "pselect6", "epoll_create1", "epoll_ctl",
    "epoll_wait", "epoll_pwait", "pipe", "pipe2", "eventfd2", "memfd_create",
    "sendmsg", // a Look's picture goes back as a memory file over the handover channel
    // looking at what it holds; a name is never looked at (below)
    "fstat", "getcwd",
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
scmp_filter_ctx BuildFilter()
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ERRNO(EPERM));
    if (!filter)
        return nullptr;
    bool ok = true;
    const auto add = [&](uint32_t action, const char* name, std::initializer_list<scmp_arg_cmp> args = {}) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call == __NR_SCMP_ERROR)
            return; // not on this architecture
        const int rc = args.size() == 0
            ? seccomp_rule_add(filter, action, call, 0)
            : seccomp_rule_add_array(filter, action, call, static_cast<unsigned>(args.size()), args.begin());
        if (rc != 0)
            std::fprintf(stderr, "pixquill_make_worker_filter: %s: rule refused (%d)\n", name, rc);
        ok = ok && rc == 0;
    };
    for (const char* name : kAllowed)
        add(SCMP_ACT_ALLOW, name);
    // Opens by name fail as the file system's own refusal does.
    for (const char* name : {"open", "openat", "openat2", "creat", "open_by_handle_at"})
        add(SCMP_ACT_ERRNO(EACCES), name);
    // Names are not even looked at: stat, lstat, access, faccessat(2),
    // readlink(at) fail with EPERM, so a worker cannot learn which files
    // exist. statx answers "not implemented", and the C library and Qt fall
    // back to fstat for a descriptor. The C library's fstat is
    // newfstatat(fd, "", AT_EMPTY_PATH), but that flag does not stop a path
    // from being looked up, and a filter cannot read the path: such a call
    // traps, and the worker's handler does fstat where the path is empty and
    // refuses it otherwise (WorkerSandbox.cpp).
    add(SCMP_ACT_ERRNO(ENOSYS), "statx");
    add(pixquill::kWorkerFilterTrapsFstatat ? SCMP_ACT_TRAP : SCMP_ACT_ALLOW, "newfstatat",
        {SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)});
    // Threads only, in no new namespace. clone3 passes its flags in memory a
    // filter cannot read: "not implemented" makes the C library fall back to
    // clone, whose flags can be checked.
    constexpr scmp_datum_t namespaces =
        CLONE_NEWNS | CLONE_NEWCGROUP | CLONE_NEWUTS | CLONE_NEWIPC | CLONE_NEWUSER | CLONE_NEWPID | CLONE_NEWNET;
    add(SCMP_ACT_ALLOW, "clone", {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD | namespaces, CLONE_THREAD)});
    add(SCMP_ACT_ERRNO(ENOSYS), "clone3");
    // Signals to itself only (abort, raise).
    const auto self = static_cast<scmp_datum_t>(pixquill::kWorkerFilterOwnPid);
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
    // A tree of call numbers rather than a chain, for the kernel's checks at
    // loading as much as for every call after it.
    ok = ok && seccomp_attr_set(filter, SCMP_FLTATR_CTL_OPTIMIZE, 2) == 0;
    if (!ok) {
        seccomp_release(filter);
        return nullptr;
    }
    return filter;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: pixquill_make_worker_filter OUTPUT\n");
        return 2;
    }
    scmp_filter_ctx filter = BuildFilter();
    if (!filter)
        return 1;
    // The program as the kernel takes it, through a memory file.
    const int memory = ::memfd_create("worker-filter", MFD_CLOEXEC);
    bool exported = memory >= 0 && seccomp_export_bpf(filter, memory) == 0;
    seccomp_release(filter);
    std::vector<sock_filter> program;
    if (exported) {
        const off_t bytes = ::lseek(memory, 0, SEEK_END);
        program.resize(static_cast<size_t>(bytes) / sizeof(sock_filter));
        exported = bytes > 0 && bytes % off_t(sizeof(sock_filter)) == 0
            && ::pread(memory, program.data(), static_cast<size_t>(bytes), 0) == bytes;
    }
    if (!exported) {
        std::fprintf(stderr, "pixquill_make_worker_filter: the filter could not be exported\n");
        return 1;
    }
    // The worker finds the stand-in by value (libseccomp may share one test
    // between kill and tgkill); without it, it would refuse itself abort().
    int standIns = 0;
    for (const sock_filter& op : program)
        standIns += op.k == pixquill::kWorkerFilterOwnPid;
    if (standIns == 0) {
        std::fprintf(stderr, "pixquill_make_worker_filter: the process id stand-in is missing\n");
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out)
        return 1;
    std::fprintf(out, "// Written by pixquill_make_worker_filter; %zu instructions.\n", program.size());
    for (const sock_filter& op : program)
        std::fprintf(out, "{0x%04x, %u, %u, 0x%08xu},\n", op.code, op.jt, op.jf, op.k);
    return std::fclose(out) == 0 ? 0 : 1;
}
