// The terrain's files meet the disk here: every save goes through one all-or-nothing write,
// every whole-file read through one read, so both can be hardened in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// One part of a file's contents, written in order; each part is one write call.
struct FilePiece {
    const void* data;
    size_t size;
};

// Writes the pieces to a new file beside path and renames it over path only once it is
// complete on disk, so a failed write leaves an existing file exactly as it was and never
// leaves a partial one. A path that cannot be created gives "Do not Create File".
bool WriteFileAtomically(const std::string& path, std::span<const FilePiece> pieces,
                         std::string* error);

// Reads a whole regular file of at most maxBytes. A missing file sets *missing (if given)
// so callers can tell "not there" from "not readable".
bool ReadWholeFile(const std::string& path, uint64_t maxBytes, std::vector<uint8_t>* out,
                   std::string* error, bool* missing = nullptr);

// Removes path; a file that is not there is no failure.
bool RemoveFileIfPresent(const std::string& path, std::string* error);
