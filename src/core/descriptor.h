#pragma once

#include <unistd.h>

// A file descriptor owned by the object: closed when the object goes, unless given up.
class Descriptor {
public:
    explicit Descriptor(int fd) : Fd(fd) {}
    ~Descriptor() {
        if (Fd >= 0)
            ::close(Fd);
    }
    Descriptor(Descriptor&& other) noexcept : Fd(other.Release()) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int Get() const { return Fd; }
    // Gives the descriptor up to the caller, who closes it or keeps it open for good.
    int Release() {
        const int fd = Fd;
        Fd = -1;
        return fd;
    }

private:
    int Fd;
};
