// Reading and writing the user's files without hanging on what is not a file and without
// ever leaving a half-written file under the user's name.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <sys/types.h>

// The system's reason for an errno value, in Korean for the errors a user meets with
// files; the C library's own text for the rest.
std::string SystemErrorText(int err);

// Opens path for reading only when it is a regular file. Anything else is refused without
// waiting on it: opening a named pipe would otherwise block until another program writes
// to it. Returns a blocking, close-on-exec descriptor, or -1 with the reason in *error
// ("폴더입니다", "일반 파일이 아닙니다", or the system's reason).
int OpenRegularFile(const char* path, std::string* error);
// The same as a binary stdio stream; null with the reason in *error.
FILE* OpenRegularFileStream(const char* path, std::string* error);

// Writes a file that appears under its name only once it is complete, replacing the file
// that was there in one step: a failure, a full disk or a killed process leaves the old
// file as it was and no visible rubbish.
//
//   AtomicFileWriter out;
//   if (!out.Open(path, &error) || !out.Write(header, 20, &error) ||
//       !out.Write(body, size, &error) || !out.Commit(&error))
//       report(error);   // the destructor throws the unfinished file away
//
// A symbolic link is followed, so the file it names is replaced and the link stays (a
// dangling link gets the file it names). The new file keeps the mode, owner and group of
// the file it replaces where the system allows it. The data goes to an unnamed file in the
// target's folder (O_TMPFILE), linked in when complete; where the file system has no
// unnamed files, to a short hidden name of its own (".veldmark-PID-N.tmp"), whatever the
// length of the target's name. Such names left by a process that died are removed by the
// next save into the same folder, as are the "NAME.tmpPID-N" files that earlier versions
// left beside the target. Every failure is reported with the system's reason.
class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Checks that the target can be replaced and makes the temporary file.
    bool Open(const char* path, std::string* error);
    // Appends bytes; false (and the file is discarded) on a write error.
    bool Write(const void* data, size_t bytes, std::string* error);
    // Flushes the data to disk and puts the file in place of the target.
    bool Commit(std::string* error);
    // Throws the unfinished file away; the target is untouched.
    void Discard();

    bool IsOpen() const { return fd_ >= 0; }
    // The file that is replaced: the path given, with the links of its last part followed.
    const std::string& TargetPath() const { return target_; }

private:
    bool Fail(std::string* error, const std::string& what, int err);

    int fd_ = -1;
    int dirFd_ = -1;
    std::string target_;
    std::string name_;     // the target's name within its folder
    std::string tempName_; // a visible temporary name, once there is one
    bool targetExists_ = false;
};

// Test hooks. The write call behind AtomicFileWriter::Write (null restores write(2)), and
// whether unnamed temporary files may be used (false forces the named fallback).
using FileWriteFunction = ssize_t (*)(int fd, const void* data, size_t bytes);
void SetFileWriteFunction(FileWriteFunction write);
void SetUnnamedTemporaryFilesAllowed(bool allowed);
