#include "support/read_only_mount.h"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace ts::test {

ReadOnlyMount::ReadOnlyMount(std::string folder) : folder_(std::move(folder)) {
    if (::mount(folder_.c_str(), folder_.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        why_ = std::string("cannot bind-mount here: ") + std::strerror(errno);
        return;
    }
    if (::mount(nullptr, folder_.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        why_ = std::string("cannot make a bind mount read-only here: ") + std::strerror(errno);
        ::umount2(folder_.c_str(), MNT_DETACH);
        return;
    }
    mounted_ = true;
}

ReadOnlyMount::~ReadOnlyMount() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

}  // namespace ts::test
