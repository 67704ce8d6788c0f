// The stb_image build used by the texture loader; every file that includes stb_image.h
// includes this first.
#pragma once

// Only the three formats a user loads: fewer decoders, and bytes of another kind (TGA has no
// signature) are never mistaken for an image.
#define STBI_ONLY_PNG
#define STBI_ONLY_JPEG
#define STBI_ONLY_BMP
#define STBI_NO_STDIO
#define STBI_NO_HDR
#define STBI_NO_LINEAR
#define STBI_MAX_DIMENSIONS 16384
