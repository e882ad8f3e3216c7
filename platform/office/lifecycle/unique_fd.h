#pragma once
// A file descriptor with one owner: closed when the owner goes, on every path.

#include <unistd.h>
#include <utility>

namespace office {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : mFd(fd) {}
    UniqueFd(UniqueFd&& o) noexcept : mFd(std::exchange(o.mFd, -1)) {}
    UniqueFd& operator=(UniqueFd&& o) noexcept {
        if (this != &o)
            reset(std::exchange(o.mFd, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return mFd; }
    bool valid() const { return mFd >= 0; }
    void reset(int fd = -1) {
        if (mFd >= 0)
            ::close(mFd);
        mFd = fd;
    }

  private:
    int mFd = -1;
};

} // namespace office
