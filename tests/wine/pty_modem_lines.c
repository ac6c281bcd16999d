/* Preloaded into Wine so that a pseudo-terminal can stand in for a COM port.
   Wine's serial driver asks for the modem lines (TIOCMGET) when it waits for a
   comm event and when it sets DTR and RTS; a pty has no modem lines and refuses
   those requests, which makes WaitCommEvent fail. On a pty descriptor this
   answers "no line set" and accepts the setting requests; every other call goes
   through unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

/* Devices of /dev/pts/N: majors 136..143 (the Unix98 pty slaves). */
static int is_pty(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return 0;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

typedef int (*ioctl_fn)(int, unsigned long, ...);

int ioctl(int fd, unsigned long request, ...) {
    static ioctl_fn next;
    va_list ap;
    void* arg;
    va_start(ap, request);
    arg = va_arg(ap, void*);
    va_end(ap);
    if (!next) next = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");

    if ((request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
         request == TIOCMBIC) && is_pty(fd)) {
        if (request == TIOCMGET && arg) *(int*)arg = 0;
        return 0;
    }
    return next(fd, request, arg);
}
