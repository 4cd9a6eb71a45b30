#pragma once

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <string>

namespace zelto::test {

// A small tmpfs over a test folder, in a mount namespace of this process's
// own, to make writes fail the way a full disk or a read-only folder does
// (permission bits do not stop root). Only for single-threaded processes.
class ScratchMount {
  public:
    // Empty when it worked, else why not (not root, no namespaces).
    static std::string isolate() {
        if (::geteuid() != 0) return "needs root";
        if (::unshare(CLONE_NEWNS) != 0) return "cannot make a mount namespace";
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "cannot make mounts private";
        return {};
    }
    ScratchMount(std::string path, std::size_t bytes) : path_(std::move(path)) {
        std::string options = "size=" + std::to_string(bytes);
        ok_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~ScratchMount() {
        if (ok_) ::umount2(path_.c_str(), MNT_DETACH);
    }
    bool ok() const { return ok_; }
    bool makeReadOnly() {
        return ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

  private:
    std::string path_;
    bool ok_ = false;
};

}  // namespace zelto::test
