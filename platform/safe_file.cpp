#include "safe_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

FileWriteFunction gWrite = nullptr;
bool gUnnamedAllowed = true;
unsigned gTempCounter = 0;

constexpr const char* kTempPrefix = ".veldmark-";
constexpr const char* kTempSuffix = ".tmp";

bool SetError(std::string* error, std::string text) {
    if (error)
        *error = std::move(text);
    return false;
}

std::string TempName(unsigned counter) {
    return kTempPrefix + std::to_string(getpid()) + "-" + std::to_string(counter) + kTempSuffix;
}

// The pid in one of our temporary names, or 0 for any other name.
pid_t TempOwner(const char* name) {
    const size_t prefix = std::strlen(kTempPrefix), suffix = std::strlen(kTempSuffix);
    const size_t length = std::strlen(name);
    if (length <= prefix + suffix || std::strncmp(name, kTempPrefix, prefix) != 0 ||
        std::strcmp(name + length - suffix, kTempSuffix) != 0)
        return 0;
    char* end = nullptr;
    const long pid = std::strtol(name + prefix, &end, 10);
    if (pid <= 0 || pid > INT_MAX || *end != '-')
        return 0;
    const char* counter = end + 1;
    if (counter == name + length - suffix)
        return 0;
    for (const char* c = counter; c < name + length - suffix; ++c)
        if (*c < '0' || *c > '9')
            return 0;
    return static_cast<pid_t>(pid);
}

// The pid in a temporary name that earlier versions made by appending ".tmpPID-N" to the
// target's name, or 0.
pid_t OldTempOwner(const char* entry, const std::string& target) {
    const std::string prefix = target + ".tmp";
    if (std::strncmp(entry, prefix.c_str(), prefix.size()) != 0)
        return 0;
    const char* p = entry + prefix.size();
    char* end = nullptr;
    const long pid = std::strtol(p, &end, 10);
    if (end == p || pid <= 0 || pid > INT_MAX || *end != '-' || !end[1])
        return 0;
    for (const char* c = end + 1; *c; ++c)
        if (*c < '0' || *c > '9')
            return 0;
    return static_cast<pid_t>(pid);
}

// Temporary files of saves whose process is gone (killed, or a crash) are removed, with
// the ones earlier versions left beside this target; those of live processes, of other
// users and of this process are left alone.
void RemoveStaleTemporaries(int dirFd, const std::string& target) {
    const int scan = ::dup(dirFd);
    if (scan < 0)
        return;
    DIR* dir = ::fdopendir(scan);
    if (!dir) {
        ::close(scan);
        return;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        pid_t owner = TempOwner(entry->d_name);
        if (owner == 0)
            owner = OldTempOwner(entry->d_name, target);
        if (owner == 0 || owner == getpid())
            continue;
        if (::kill(owner, 0) == 0 || errno != ESRCH)
            continue;
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            st.st_uid == ::geteuid())
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

// Follows the symbolic links of the path's last part: the link stays and the file it names
// is the one replaced. A link whose target is missing names the file to create.
bool FollowLinks(std::string path, std::string* out, int* err) {
    for (int hops = 0; hops < 40; ++hops) {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
        if (n < 0) {
            // Not a link (or nothing there yet): this is the file. Other errors show up,
            // with their reason, when the folder is opened.
            *out = path;
            return true;
        }
        if (static_cast<size_t>(n) == sizeof buffer) {
            *err = ENAMETOOLONG;
            return false;
        }
        std::string link(buffer, static_cast<size_t>(n));
        if (link.empty()) {
            *err = ENOENT;
            return false;
        }
        if (link[0] != '/') {
            const size_t slash = path.rfind('/');
            if (slash != std::string::npos)
                link = path.substr(0, slash + 1) + link;
        }
        path = std::move(link);
    }
    *err = ELOOP;
    return false;
}

bool LinkUnnamed(int fd, int dirFd, const char* name) {
    char proc[64];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
    if (::linkat(AT_FDCWD, proc, dirFd, name, AT_SYMLINK_FOLLOW) == 0)
        return true;
    const int first = errno;
    // Without /proc, linking the descriptor itself needs a capability most users lack.
    if (first == ENOENT && ::linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0)
        return true;
    if (first != ENOENT)
        errno = first;
    return false;
}

} // namespace

std::string SystemErrorText(int err) {
    switch (err) {
    case EACCES:
        return "권한이 없습니다";
    case EPERM:
        return "허용되지 않은 작업입니다";
    case ENOENT:
        return "그런 파일이나 폴더가 없습니다";
    case ENOTDIR:
        return "경로의 일부가 폴더가 아닙니다";
    case EISDIR:
        return "폴더입니다";
    case EROFS:
        return "읽기 전용 파일 시스템입니다";
    case ENOSPC:
        return "장치에 남은 공간이 없습니다";
    case EDQUOT:
        return "디스크 할당량을 넘었습니다";
    case ENAMETOOLONG:
        return "파일 이름이 너무 깁니다";
    case ELOOP:
        return "심볼릭 링크가 너무 많이 이어집니다";
    case EEXIST:
        return "파일이 이미 있습니다";
    case EIO:
        return "입출력 오류가 났습니다";
    case ENOMEM:
        return "메모리가 부족합니다";
    case EMFILE:
    case ENFILE:
        return "열린 파일이 너무 많습니다";
    case EFBIG:
        return "파일이 너무 큽니다";
    case ETXTBSY:
        return "실행 중인 파일입니다";
    case EBUSY:
        return "장치나 자원이 사용 중입니다";
    case EXDEV:
        return "다른 파일 시스템 사이에서는 할 수 없습니다";
    case ENXIO:
    case ENODEV:
        return "그런 장치가 없습니다";
    case EAGAIN:
        return "자원을 잠시 쓸 수 없습니다";
    case ESTALE:
        return "네트워크 파일 시스템의 파일 핸들이 낡았습니다";
    case EOPNOTSUPP:
        return "이 파일 시스템이 지원하지 않는 작업입니다";
    case EINVAL:
        return "잘못된 인수입니다";
    default:
        return std::strerror(err);
    }
}

int OpenRegularFile(const char* path, std::string* error) {
    if (!path || !*path) {
        SetError(error, "파일 이름이 없습니다");
        return -1;
    }
    // Non-blocking, so that a named pipe opens at once instead of waiting for a writer.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        SetError(error, SystemErrorText(errno));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        SetError(error, SystemErrorText(errno));
        ::close(fd);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        SetError(error, S_ISDIR(st.st_mode) ? "폴더입니다" : "일반 파일이 아닙니다");
        ::close(fd);
        return -1;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        SetError(error, SystemErrorText(errno));
        ::close(fd);
        return -1;
    }
    return fd;
}

FILE* OpenRegularFileStream(const char* path, std::string* error) {
    const int fd = OpenRegularFile(path, error);
    if (fd < 0)
        return nullptr;
    FILE* file = ::fdopen(fd, "rb");
    if (!file) {
        SetError(error, SystemErrorText(errno));
        ::close(fd);
    }
    return file;
}

AtomicFileWriter::~AtomicFileWriter() {
    Discard();
}

bool AtomicFileWriter::Fail(std::string* error, const std::string& what, int err) {
    Discard();
    return SetError(error, err ? what + ": " + SystemErrorText(err) : what);
}

bool AtomicFileWriter::Open(const char* path, std::string* error) {
    Discard();
    if (!path || !*path)
        return SetError(error, "파일 이름이 없습니다");
    int err = 0;
    if (!FollowLinks(path, &target_, &err))
        return Fail(error, "파일을 만들 수 없습니다", err);

    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target_.substr(0, slash + 1);
    name_ = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    if (name_.empty() || name_ == "." || name_ == "..")
        return Fail(error, "파일 이름이 없습니다", 0);

    dirFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0)
        return Fail(error, "저장할 폴더를 열 수 없습니다", errno);

    struct stat existing {};
    targetExists_ = ::fstatat(dirFd_, name_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!targetExists_ && errno != ENOENT)
        return Fail(error, "파일을 만들 수 없습니다", errno);
    if (targetExists_) {
        if (S_ISDIR(existing.st_mode))
            return Fail(error, "같은 이름의 폴더가 있습니다", 0);
        if (!S_ISREG(existing.st_mode))
            return Fail(error, "일반 파일이 아니어서 덮어쓸 수 없습니다", 0);
        // A file its owner made read-only stays as it is, as an open for writing would
        // refuse it, although the rename alone could replace it.
        if (::faccessat(dirFd_, name_.c_str(), W_OK, AT_EACCESS) != 0)
            return Fail(error, "파일을 덮어쓸 수 없습니다", errno);
    }

    RemoveStaleTemporaries(dirFd_, name_);

    const mode_t mode = targetExists_ ? (existing.st_mode & 0777) : 0666;
    if (gUnnamedAllowed) {
        fd_ = ::openat(dirFd_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
        // File systems without unnamed files say so in one of these ways.
        if (fd_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
            return Fail(error, "파일을 만들 수 없습니다", errno);
    }
    for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
        const std::string name = TempName(gTempCounter++);
        fd_ = ::openat(dirFd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd_ >= 0)
            tempName_ = name;
        else if (errno != EEXIST)
            return Fail(error, "파일을 만들 수 없습니다", errno);
    }
    if (fd_ < 0)
        return Fail(error, "파일을 만들 수 없습니다", EEXIST);

    if (targetExists_) {
        // Owner and group first: changing them may clear the set-id bits of the mode.
        if (::fchown(fd_, existing.st_uid, existing.st_gid) != 0)
            (void)::fchown(fd_, static_cast<uid_t>(-1), existing.st_gid);
        (void)::fchmod(fd_, existing.st_mode & 07777);
    }
    return true;
}

bool AtomicFileWriter::Write(const void* data, size_t bytes, std::string* error) {
    if (fd_ < 0)
        return SetError(error, "파일이 열려 있지 않습니다");
    const FileWriteFunction write = gWrite ? gWrite : ::write;
    const auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = write(fd_, p, bytes);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Fail(error, "파일을 쓰지 못했습니다", n < 0 ? errno : ENOSPC);
        p += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

bool AtomicFileWriter::Commit(std::string* error) {
    if (fd_ < 0)
        return SetError(error, "파일이 열려 있지 않습니다");
    if (::fsync(fd_) != 0)
        return Fail(error, "파일을 디스크에 쓰지 못했습니다", errno);

    if (tempName_.empty()) {
        // A new file is linked straight in under its name; an existing one is replaced
        // through a temporary name, as links cannot overwrite.
        if (!targetExists_ && LinkUnnamed(fd_, dirFd_, name_.c_str())) {
            ::fsync(dirFd_);
            Discard();
            return true;
        }
        for (int attempt = 0; tempName_.empty() && attempt < 100; ++attempt) {
            const std::string name = TempName(gTempCounter++);
            if (LinkUnnamed(fd_, dirFd_, name.c_str()))
                tempName_ = name;
            else if (errno != EEXIST)
                return Fail(error, "파일을 제자리에 놓지 못했습니다", errno);
        }
        if (tempName_.empty())
            return Fail(error, "파일을 제자리에 놓지 못했습니다", EEXIST);
    }
    if (::renameat(dirFd_, tempName_.c_str(), dirFd_, name_.c_str()) != 0)
        return Fail(error, "기존 파일을 바꾸지 못했습니다", errno);
    tempName_.clear();
    // The rename itself reaches the disk with the folder.
    ::fsync(dirFd_);
    Discard();
    return true;
}

void AtomicFileWriter::Discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (dirFd_ >= 0) {
        if (!tempName_.empty())
            ::unlinkat(dirFd_, tempName_.c_str(), 0);
        ::close(dirFd_);
        dirFd_ = -1;
    }
    tempName_.clear();
}

void SetFileWriteFunction(FileWriteFunction write) {
    gWrite = write;
}

void SetUnnamedTemporaryFilesAllowed(bool allowed) {
    gUnnamedAllowed = allowed;
}
