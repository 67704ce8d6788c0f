// The MapVertexData file: W and D as int32, the three spacings as float32, then every
// vertex record as it is in memory. Little-endian, no magic number.
#include "KrTerrain.h"
#include "KrTerrainGrid.h"
#include "terrain_file_io.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

static_assert(std::endian::native == std::endian::little,
              "the file is written straight from memory and is little-endian");

namespace {

constexpr size_t kHeaderBytes = 20;
// 8 MiB of records a read.
constexpr size_t kVerticesPerRead = size_t{1} << 18;
constexpr const char* kCreateFailed = "Do not Create File";

struct FileHeader {
    int32_t vertsPerRow;
    int32_t vertsPerCol;
    float spacing[3];
};
static_assert(sizeof(FileHeader) == kHeaderBytes);

MapVertexDataWriter gWriter = nullptr;

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

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

// The existing file is replaced only once the new one is complete on disk: a full disk or
// any other write error leaves the user's file exactly as it was.
bool KrTerrain::SaveMapVertexData(const char* path, std::string* error) const {
    if (!vertices || info.numVertices <= 0)
        return Fail(error, "There is no terrain to save");
    if (!path || !*path)
        return Fail(error, kCreateFailed);

    const std::string target(path);
    struct stat existing {};
    const bool exists = ::stat(path, &existing) == 0;
    // What a plain open for writing would refuse is refused here too, although the
    // rename alone could replace a read-only file.
    if (exists && (S_ISDIR(existing.st_mode) || ::access(path, W_OK) != 0))
        return Fail(error, kCreateFailed);

    std::string tempPath;
    FILE* file = CreateTemporary(target, &tempPath);
    if (!file)
        return Fail(error, kCreateFailed);
    if (exists)
        ::fchmod(fileno(file), existing.st_mode & 07777);

    FileHeader header{info.vertsPerRow,
                      info.vertsPerCol,
                      {info.cellSpacingX, info.cellSpacingY, info.cellSpacingZ}};
    const size_t vertexBytes = static_cast<size_t>(info.numVertices) * sizeof(KrTerrainVertex);
    errno = 0;
    std::string reason;
    if (!Write(file, &header.vertsPerRow, 4) || !Write(file, &header.vertsPerCol, 4) ||
        !Write(file, header.spacing, 12) || !Write(file, vertices, vertexBytes))
        reason = WithErrno("Could not write the file", errno);
    else if (std::fflush(file) != 0 || ::fsync(fileno(file)) != 0)
        reason = WithErrno("Could not write the file to disk", errno);
    if (std::fclose(file) != 0 && reason.empty())
        reason = WithErrno("Could not finish writing the file", errno);
    if (reason.empty() && std::rename(tempPath.c_str(), path) != 0)
        reason = WithErrno("Could not replace the file", errno);
    if (!reason.empty()) {
        std::remove(tempPath.c_str());
        return Fail(error, reason);
    }
    return true;
}

// Everything is checked and read into new memory first; only a complete, consistent file
// replaces the grid, so a bad file loses nothing.
bool KrTerrain::LoadMapVertexData(const char* path, std::string* error) {
    if (!path || !*path)
        return Fail(error, "No file name was given");
    if (!device)
        return Fail(error, "There is no graphics device to load the terrain into");
    KrTerrainGrid grid;
    return PrepareMapVertexData(path, &grid, {}, error) && InstallGrid(grid, error);
}

bool PrepareMapVertexData(const char* path, KrTerrainGrid* grid, const KrProgress& progress,
                          std::string* error) {
    *grid = KrTerrainGrid{};
    if (!path || !*path)
        return Fail(error, "No file name was given");

    FilePtr file(std::fopen(path, "rb"));
    if (!file)
        return Fail(error, WithErrno("Cannot open the file", errno));
    struct stat st {};
    if (::fstat(fileno(file.get()), &st) != 0)
        return Fail(error, WithErrno("Cannot read the file", errno));
    if (!S_ISREG(st.st_mode))
        return Fail(error, "The path is not a file");

    FileHeader header{};
    if (std::fread(&header, 1, kHeaderBytes, file.get()) != kHeaderBytes)
        return Fail(error, "The file is too short to be a MapVertexData file");
    const int32_t w = header.vertsPerRow;
    const int32_t d = header.vertsPerCol;
    if (w < 2 || d < 2 || w > kMaxTerrainSide || d > kMaxTerrainSide)
        return Fail(error, "The grid size " + std::to_string(w) + " x " + std::to_string(d) +
                               " is outside 2 to " + std::to_string(kMaxTerrainSide) +
                               " vertices a side");
    for (float s : header.spacing)
        if (!std::isfinite(s) || s <= 0.0f)
            return Fail(error, "The cell spacing is not a positive number");
    if (!WorldSizeFits(w, d, header.spacing[0], header.spacing[2]))
        return Fail(error, "The cell spacing is too large: the terrain would be wider than " +
                               std::to_string(INT32_MAX) + " units");

    const size_t count = static_cast<size_t>(w) * static_cast<size_t>(d);
    const uint64_t expected = kHeaderBytes + count * sizeof(KrTerrainVertex);
    if (static_cast<uint64_t>(st.st_size) != expected)
        return Fail(error, "The file holds " + std::to_string(st.st_size) + " bytes, but a " +
                               std::to_string(w) + " x " + std::to_string(d) + " grid needs " +
                               std::to_string(expected));

    std::unique_ptr<KrTerrainVertex[]> array(new (std::nothrow) KrTerrainVertex[count]);
    if (!array)
        return Fail(error, "There is not enough memory for a grid of this size");
    // The size check could race with a writer; the reads themselves decide. Read in pieces
    // so that progress shows and a cancel is heard.
    constexpr float kReadShare = 0.6f, kCheckShare = 0.1f;
    for (size_t done = 0; done < count;) {
        if (progress.Cancelled())
            return Fail(error, kPreparationCancelled);
        progress.Report(kReadShare * static_cast<float>(done) / static_cast<float>(count));
        const size_t piece = std::min(kVerticesPerRead, count - done);
        if (std::fread(array.get() + done, sizeof(KrTerrainVertex), piece, file.get()) != piece)
            return Fail(error, "The file ended early or could not be read");
        done += piece;
    }
    if (std::fgetc(file.get()) != EOF)
        return Fail(error, "The file holds more data than its grid");
    file.reset();

    const float* floats = &array[0].x;
    for (size_t i = 0; i < count * 8; ++i)
        if (!std::isfinite(floats[i]))
            return Fail(error, "Vertex " + std::to_string(i / 8) + " holds a value that is not " +
                                   "a finite number");
    progress.Report(kReadShare + kCheckShare);

    KrTerrainGrid loaded;
    loaded.info.InitInfo(w, d, header.spacing[0], header.spacing[1], header.spacing[2]);
    loaded.vertices = std::move(array);
    std::string reason;
    if (!PrepareGridTables(&loaded, progress, kReadShare + kCheckShare, 1.0f, &reason))
        return Fail(error, reason);
    *grid = std::move(loaded);
    return true;
}
