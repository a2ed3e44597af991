#pragma once

#include <QByteArray>

// What the writers that work with file descriptors directly share.
class PosixFile
{
public:
    // Owns a descriptor and closes it when it goes.
    struct Descriptor {
        int fd = -1;
        Descriptor() = default;
        explicit Descriptor(int descriptor)
            : fd(descriptor)
        {
        }
        Descriptor(const Descriptor &) = delete;
        Descriptor &operator=(const Descriptor &) = delete;
        ~Descriptor();
    };

    // Writes all of data, going on after interrupted and short writes;
    // false when a write fails.
    static bool writeAll(int fd, const QByteArray &data);
};
