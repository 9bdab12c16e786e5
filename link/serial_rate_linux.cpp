#include "link/serial_rate_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

uint32_t apply_custom_rate(int fd, uint32_t baud) {
    struct termios2 settings {};
    if (ioctl(fd, TCGETS2, &settings) != 0)
        return 0;
    settings.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    settings.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    settings.c_ispeed = baud;
    settings.c_ospeed = baud;
    if (ioctl(fd, TCSETS2, &settings) != 0)
        return 0;
    return read_line_rate(fd);
}

uint32_t read_line_rate(int fd) {
    struct termios2 settings {};
    return ioctl(fd, TCGETS2, &settings) == 0 ? settings.c_ospeed : 0;
}
