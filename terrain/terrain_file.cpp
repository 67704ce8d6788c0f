// The MapVertexData file: W and D as int32, the three spacings as float32, then every
// vertex record as it is in memory. Little-endian, no magic number.
#include "KrTerrain.h"
#include "file_access.h"
#include "mvd_file.h"

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
#include <zlib.h>

static_assert(std::endian::native == std::endian::little,
              "the file is written straight from memory and is little-endian");

namespace {

struct FileHeader {
    int32_t vertsPerRow;
    int32_t vertsPerCol;
    float spacing[3];
};
static_assert(sizeof(FileHeader) == kMapVertexDataHeaderBytes);

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

FileHeader HeaderOf(const KrTerrainInfo& info) {
    return FileHeader{info.vertsPerRow,
                      info.vertsPerCol,
                      {info.cellSpacingX, info.cellSpacingY, info.cellSpacingZ}};
}

} // namespace

uint64_t MapVertexDataBytes(const KrTerrainInfo& info) {
    return kMapVertexDataHeaderBytes +
           static_cast<uint64_t>(info.numVertices) * sizeof(KrTerrainVertex);
}

uint32_t MapVertexDataCrc(const KrTerrainInfo& info, const KrTerrainVertex* vertices) {
    const FileHeader header = HeaderOf(info);
    uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(&header), sizeof header);
    crc = crc32_z(crc, reinterpret_cast<const Bytef*>(vertices),
                  static_cast<size_t>(info.numVertices) * sizeof(KrTerrainVertex));
    return static_cast<uint32_t>(crc);
}

bool WriteMapVertexData(const char* path, const KrTerrainInfo& info,
                        const KrTerrainVertex* vertices, std::string* error) {
    if (!vertices || info.numVertices <= 0)
        return Fail(error, "There is no terrain to save");
    const FileHeader header = HeaderOf(info);
    const FilePiece pieces[] = {
        {&header.vertsPerRow, 4},
        {&header.vertsPerCol, 4},
        {header.spacing, 12},
        {vertices, static_cast<size_t>(info.numVertices) * sizeof(KrTerrainVertex)},
    };
    return WriteFileAtomically(path ? path : "", pieces, error);
}

// The existing file is replaced only once the new one is complete on disk: a full disk or
// any other write error leaves the user's file exactly as it was.
bool KrTerrain::SaveMapVertexData(const char* path, std::string* error) const {
    return WriteMapVertexData(path, info, vertices, error);
}

bool ReadMapVertexData(const char* path, MapVertexData* out, std::string* error) {
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
    if (std::fread(&header, 1, kMapVertexDataHeaderBytes, file.get()) != kMapVertexDataHeaderBytes)
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
    const uint64_t expected = kMapVertexDataHeaderBytes + count * sizeof(KrTerrainVertex);
    if (static_cast<uint64_t>(st.st_size) != expected)
        return Fail(error, "The file holds " + std::to_string(st.st_size) + " bytes, but a " +
                               std::to_string(w) + " x " + std::to_string(d) + " grid needs " +
                               std::to_string(expected));

    std::unique_ptr<KrTerrainVertex[]> array(new (std::nothrow) KrTerrainVertex[count]);
    if (!array)
        return Fail(error, "There is not enough memory for a grid of this size");
    // The size check could race with a writer; the reads themselves decide.
    if (std::fread(array.get(), sizeof(KrTerrainVertex), count, file.get()) != count)
        return Fail(error, "The file ended early or could not be read");
    if (std::fgetc(file.get()) != EOF)
        return Fail(error, "The file holds more data than its grid");
    file.reset();

    const float* floats = &array[0].x;
    for (size_t i = 0; i < count * 8; ++i)
        if (!std::isfinite(floats[i]))
            return Fail(error, "Vertex " + std::to_string(i / 8) + " holds a value that is not " +
                                   "a finite number");

    out->info.InitInfo(w, d, header.spacing[0], header.spacing[1], header.spacing[2]);
    out->vertices = std::move(array);
    return true;
}

// Everything is checked and read into new memory and new device buffers first; only a
// complete, consistent file replaces the grid, so a bad file loses nothing.
bool KrTerrain::LoadMapVertexData(const char* path, std::string* error) {
    if (!path || !*path)
        return Fail(error, "No file name was given");
    if (!device)
        return Fail(error, "There is no graphics device to load the terrain into");
    MapVertexData file;
    if (!ReadMapVertexData(path, &file, error))
        return false;
    return AdoptGrid(file.info, std::move(file.vertices), error);
}
