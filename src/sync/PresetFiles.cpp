#include "sync/PresetFiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace zelto::presetfiles {

namespace {

Clock::time_point fromTimespec(const timespec& ts) {
    auto d = std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
    return Clock::time_point(std::chrono::duration_cast<Clock::duration>(d));
}

timespec toTimespec(Clock::time_point t) {
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    if (ts.tv_nsec < 0) {
        ts.tv_nsec += 1'000'000'000;
        ts.tv_sec -= 1;
    }
    return ts;
}

std::string withSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder.push_back('/');
    return folder;
}

std::error_code lastError() {
    return {errno, std::generic_category()};
}

std::error_code writeAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return lastError();
        }
        done += static_cast<std::size_t>(n);
    }
    return {};
}

}  // namespace

bool isSafePresetName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    // NAME_MAX counts bytes; the suffix takes its share.
    if (name.size() + kSuffix.size() > NAME_MAX) return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') return false;
    }
    return true;
}

std::string presetFilePath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    path.append(name);
    path.append(kSuffix);
    return path;
}

namespace {
std::function<void()> accessHook;
void accessing() {
    if (accessHook) accessHook();
}
}  // namespace

void setAccessHook(std::function<void()> hook) {
    accessHook = std::move(hook);
}

std::vector<ListedFile> listFolder(const std::string& folder) {
    accessing();
    std::vector<ListedFile> result;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto& path = entry.path();
        if (path.extension().string() != kSuffix) continue;
        std::error_code typeError;
        if (entry.is_directory(typeError)) continue;
        ListedFile file{path.stem().string(), std::nullopt};
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) file.modified = fromTimespec(st.st_mtim);
        result.push_back(std::move(file));
    }
    return result;
}

std::optional<FileContent> readFile(const std::string& path) {
    accessing();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        return FileContent{};  // exists, but its attributes cannot be read
    }
    FileContent content;
    content.modified = fromTimespec(st.st_mtim);
    if (!S_ISREG(st.st_mode) || static_cast<std::uintmax_t>(st.st_size) > kMaxPresetFileSize) return content;
    std::ifstream in(path, std::ios::binary);
    if (!in) return content;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.gcount() != static_cast<std::streamsize>(bytes.size())) return content;
    // The file may have grown since stat; what was read is a complete prefix
    // only if nothing follows.
    if (in.peek() != std::char_traits<char>::eof()) return content;
    content.bytes = std::move(bytes);
    return content;
}

std::error_code writeFileAtomically(const std::string& folderIn, const std::string& fileName,
                                    const std::vector<std::uint8_t>& bytes, Clock::time_point modified,
                                    bool& replaced, const std::function<bool()>& keepOld) {
    accessing();
    const std::string folder = withSlash(folderIn);
    const std::string target = folder + fileName;
    replaced = false;
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return std::make_error_code(std::errc::is_a_directory);
        replaced = true;
    } else if (errno != ENOENT) {
        return lastError();
    }

    std::string temp = folder + ".zelto-write-XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return lastError();
    auto fail = [&](std::error_code ec) {
        ::close(fd);
        ::unlink(temp.c_str());
        return ec;
    };
    if (::fchmod(fd, 0644) != 0) return fail(lastError());
    if (auto ec = writeAll(fd, bytes)) return fail(ec);
    // Only a replacement needs the data on disk before the rename: otherwise a
    // crash could leave an empty file where the old preset was. A new file
    // lost in a crash is fetched again by the next sync.
    if (replaced && ::fsync(fd) != 0) return fail(lastError());
    timespec times[2] = {{0, UTIME_NOW}, toTimespec(modified)};
    if (::futimens(fd, times) != 0) return fail(lastError());
    if (::close(fd) != 0) {
        auto ec = lastError();
        ::unlink(temp.c_str());
        return ec;
    }
    if (replaced && keepOld && !keepOld()) {
        ::unlink(temp.c_str());
        return std::make_error_code(std::errc::operation_canceled);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        auto ec = lastError();
        ::unlink(temp.c_str());
        return ec;
    }
    return {};
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) {
        std::string h(home);
        while (h.size() > 1 && h.back() == '/') h.pop_back();
        return h;
    }
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/";
}

}  // namespace zelto::presetfiles
