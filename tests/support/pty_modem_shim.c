/* Test infrastructure, never shipped. Loaded with LD_PRELOAD into Wine so
 * that a pty behaves like a serial port whose modem lines are up: Wine asks
 * for them with TIOCMGET on every poll of WaitCommEvent, a pty refuses, and
 * every wait would then fail after about 1 ms. Every other result, EIO of a
 * hung-up pty included, passes through unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <termios.h>

typedef int (*ioctl_fn)(int, unsigned long, void*);

static int modem_answer(unsigned long request, void* arg)
{
    switch (request) {
    case TIOCMGET:
        if (arg) *(int*)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_DTR | TIOCM_RTS;
        return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        return 0;
    default:
        return -1;
    }
}

static int call(const char* name, int fd, unsigned long request, void* arg)
{
    ioctl_fn next = (ioctl_fn)dlsym(RTLD_NEXT, name);
    if (!next) {
        errno = ENOSYS;
        return -1;
    }
    int saved = errno;
    int result = next(fd, request, arg);
    if (result == -1 && (errno == ENOTTY || errno == EINVAL)
        && modem_answer(request, arg) == 0) {
        errno = saved;
        return 0;
    }
    return result;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return call("ioctl", fd, request, arg);
}

int __ioctl_time64(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    return call("__ioctl_time64", fd, request, arg);
}
