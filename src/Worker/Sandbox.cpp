// SPDX-License-Identifier: GPL-3.0-or-later
#include "Worker/Sandbox.h"

#include "Runtime/Deleter.h"

#include <seccomp.h>

#include <asm/ioctls.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {

// What decoding and encoding on open descriptors needs: memory, threads,
// time, signals within the process, and I/O on descriptors already open.
// clang-format off
constexpr const char* allowedCalls[] = {
    // I/O on descriptors the process holds
    "read", "write", "readv", "writev", "pread64", "pwrite64", "preadv", "pwritev", "lseek",
    "close", "fstat", "newfstatat", "statx", "fcntl", "dup", "ftruncate", "fallocate", "fsync",
    "fdatasync", "sendmsg", "recvmsg", "poll", "ppoll", "eventfd2",
    // memory; get_mempolicy only reads the caller's own, and tells libnuma
    // that NUMA is there, so that x265 goes its ordinary way (placing its
    // threads, which the sandbox then refuses) instead of complaining
    "mmap", "munmap", "mremap", "mprotect", "madvise", "brk", "mincore", "membarrier",
    "get_mempolicy",
    // threads and their synchronisation
    "futex", "set_robust_list", "get_robust_list", "rseq", "set_tid_address", "sched_yield",
    "sched_getaffinity", "sched_getparam", "sched_getscheduler", "sched_get_priority_max",
    "sched_get_priority_min", "prctl",
    // signals, time, identity, ending
    "rt_sigaction", "rt_sigprocmask", "rt_sigreturn", "sigaltstack", "restart_syscall",
    "clock_gettime", "clock_getres", "clock_nanosleep", "nanosleep", "gettimeofday", "time",
    "getrandom", "getpid", "gettid", "getuid", "geteuid", "getgid", "getegid", "getrusage",
    "sysinfo", "uname", "exit", "exit_group",
#ifdef BURISORA_SANITIZED
    // The sanitizers test whether memory is readable by writing it to a pipe.
    "pipe", "pipe2",
#endif
};
// clang-format on

} // namespace

namespace Sandbox {

bool limitMemory(std::int64_t bytes) {
    if (bytes <= 0)
        return true;
    const rlimit limit{rlim_t(bytes), rlim_t(bytes)};
    return ::setrlimit(RLIMIT_DATA, &limit) == 0;
}

bool enter() {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    std::unique_ptr<void, Deleter<seccomp_release>> context(seccomp_init(SCMP_ACT_ERRNO(EPERM)));
    if (!context)
        return false;
    scmp_filter_ctx filter = context.get();
    for (const char* name : allowedCalls) {
        const int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR && seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0) != 0)
            return false;
    }
    const auto pid = scmp_datum_t(::getpid());
    const bool added =
        // Threads only: a new process could escape nothing, but has no business here.
        seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(clone), 1,
                         SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)) == 0 &&
        // clone3 hides its flags in memory: "not there" makes glibc fall back to clone.
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0 &&
        // abort() and raise() signal the process itself, never another.
        seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(tgkill), 1, SCMP_A0(SCMP_CMP_EQ, pid)) ==
            0 &&
        // isatty() on standard error.
        seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(ioctl), 1,
                         SCMP_A1(SCMP_CMP_EQ, scmp_datum_t(TCGETS))) == 0;
    return added && seccomp_load(filter) == 0;
}

} // namespace Sandbox
