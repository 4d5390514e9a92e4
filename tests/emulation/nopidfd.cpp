// Preloaded into the tests' programs when they run under qemu-user. Qt starts child
// processes with clone(CLONE_PIDFD) when the kernel answers its probe for process file
// descriptors; qemu-user 7 passes the probe to the kernel but does not hand the new
// descriptor back to the emulated program, which then watches a stray descriptor and
// later signals process -1 (every process it may signal). Refusing the probe here makes
// Qt start its children the classic way, which qemu emulates faithfully. qemu puts the
// library in each emulated program's environment (QEMU_SET_ENV); it leaves that
// environment at once, so the children that are no arm64 programs never see it.
#include <sys/syscall.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <dlfcn.h>

namespace {
constexpr long kWaitForPidFd = 3; // P_PIDFD
using SyscallFunction = long (*)(long, ...);
} // namespace

extern "C" long syscall(long number, ...) noexcept
{
    va_list list;
    va_start(list, number);
    long arguments[6];
    for (long &argument : arguments)
        argument = va_arg(list, long);
    va_end(list);
    if (number == SYS_pidfd_open || number == SYS_pidfd_send_signal
        || (number == SYS_waitid && arguments[0] == kWaitForPidFd)) {
        errno = ENOSYS;
        return -1;
    }
    static const auto next = reinterpret_cast<SyscallFunction>(dlsym(RTLD_NEXT, "syscall"));
    return next(number, arguments[0], arguments[1], arguments[2], arguments[3], arguments[4], arguments[5]);
}

__attribute__((constructor)) static void leaveEnvironment()
{
    unsetenv("LD_PRELOAD");
}
