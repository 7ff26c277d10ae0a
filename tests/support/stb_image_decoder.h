#pragma once
// The independent image decoder the tests read written pictures back with
// (BMP, PNG and JPEG, from memory or from a file).  Its one implementation is
// in stb_image_decoder.cpp; the library's own warnings are not ours.

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop
