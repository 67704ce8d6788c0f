// stb_image's decoders, in a file of their own so that they build with wrapping signed
// arithmetic (see CMakeLists.txt): corrupt JPEG coefficients overflow int in its
// dequantisation, which gives a garbage picture but must not be undefined.
#include "stb_config.h"

#define STB_IMAGE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#include <stb_image.h>
#pragma GCC diagnostic pop
