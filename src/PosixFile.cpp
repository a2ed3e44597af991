#include "PosixFile.h"

#include <cerrno>
#include <unistd.h>

PosixFile::Descriptor::~Descriptor()
{
    if (fd >= 0)
        ::close(fd);
}

bool PosixFile::writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}
