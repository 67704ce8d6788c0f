#include "file_access.h"
#include "terrain_file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kCreateFailed = "Do not Create File";

MapVertexDataWriter gWriter = nullptr;

bool Fail(std::string* error, std::string reason) {
    if (error)
        *error = std::move(reason);
    return false;
}

std::string WithErrno(const char* what, int err) {
    if (err == 0)
        return what;
    return std::string(what) + ": " + std::strerror(err);
}

bool Write(FILE* file, const void* data, size_t bytes) {
    const MapVertexDataWriter write = gWriter ? gWriter : std::fwrite;
    return write(data, 1, bytes, file) == bytes;
}

// A new file beside the target, so the rename that replaces the target stays on one
// file system. "x" makes sure no one else's file is reused.
FILE* CreateTemporary(const std::string& target, std::string* tempPath) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *tempPath = target + ".tmp" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        if (FILE* f = std::fopen(tempPath->c_str(), "wbx"))
            return f;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

} // namespace

void SetMapVertexDataWriter(MapVertexDataWriter writer) {
    gWriter = writer;
}

bool WriteFileAtomically(const std::string& path, std::span<const FilePiece> pieces,
                         std::string* error) {
    if (path.empty())
        return Fail(error, kCreateFailed);
    struct stat existing {};
    const bool exists = ::stat(path.c_str(), &existing) == 0;
    // What a plain open for writing would refuse is refused here too, although the
    // rename alone could replace a read-only file.
    if (exists && (S_ISDIR(existing.st_mode) || ::access(path.c_str(), W_OK) != 0))
        return Fail(error, kCreateFailed);

    std::string tempPath;
    FILE* file = CreateTemporary(path, &tempPath);
    if (!file)
        return Fail(error, kCreateFailed);
    if (exists)
        ::fchmod(fileno(file), existing.st_mode & 07777);

    errno = 0;
    std::string reason;
    for (const FilePiece& piece : pieces) {
        if (!Write(file, piece.data, piece.size)) {
            reason = WithErrno("Could not write the file", errno);
            break;
        }
    }
    if (reason.empty() && (std::fflush(file) != 0 || ::fsync(fileno(file)) != 0))
        reason = WithErrno("Could not write the file to disk", errno);
    if (std::fclose(file) != 0 && reason.empty())
        reason = WithErrno("Could not finish writing the file", errno);
    if (reason.empty() && std::rename(tempPath.c_str(), path.c_str()) != 0)
        reason = WithErrno("Could not replace the file", errno);
    if (!reason.empty()) {
        std::remove(tempPath.c_str());
        return Fail(error, reason);
    }
    return true;
}

// Opened without blocking, so a named pipe given as a file cannot hang the caller.
bool ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* out,
                   std::string* error, bool* missing) {
    if (missing)
        *missing = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (missing)
            *missing = err == ENOENT;
        return Fail(error, WithErrno("파일을 열 수 없습니다", err));
    }
    struct stat st {};
    std::string reason;
    if (::fstat(fd, &st) != 0)
        reason = WithErrno("파일을 읽을 수 없습니다", errno);
    else if (!S_ISREG(st.st_mode))
        reason = S_ISDIR(st.st_mode) ? "파일이 아니라 폴더입니다" : "일반 파일이 아닙니다";
    else if (static_cast<uint64_t>(st.st_size) > maxBytes)
        reason = "파일이 너무 큽니다 (" + std::to_string(st.st_size) + "바이트, 최대 " +
                 std::to_string(maxBytes) + "바이트)";
    if (reason.empty()) {
        std::vector<uint8_t> bytes;
        try {
            bytes.resize(static_cast<size_t>(st.st_size));
        } catch (const std::bad_alloc&) {
            reason = "파일을 읽을 메모리가 부족합니다";
        }
        size_t done = 0;
        while (reason.empty() && done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                reason = WithErrno("파일을 읽을 수 없습니다", errno);
            else if (n == 0)
                reason = "파일을 읽는 도중에 파일이 짧아졌습니다";
            else
                done += static_cast<size_t>(n);
        }
        if (reason.empty())
            *out = std::move(bytes);
    }
    ::close(fd);
    return reason.empty() || Fail(error, reason);
}

bool RemoveFileIfPresent(const std::string& path, std::string* error) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    return Fail(error, WithErrno("파일을 지울 수 없습니다", errno));
}
