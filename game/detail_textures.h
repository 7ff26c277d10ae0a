#pragma once
// Detail textures ('dtex'): the small repeating images a detail map lays over
// the terrain.  Each tag holds one losslessly coded 24-bit image (the image
// codec of CoreLibrary/quarn1); loading decodes it and hands it to the
// hardware rasterizer as a resident texture, keeping only the texture's
// handle.  A software build makes no texture, but the definition still loads.
//
// Main thread only.

#include <cstddef>
#include <cstdint>

#include "cseries/cseries.h"
#include "tag_files/definitions.h"

struct preallocated_texture;

#define DETAIL_TEXTURE_GROUP_TAG FOUR_CHARACTER_CODE('d', 't', 'e', 'x')

enum
{
    DETAIL_TEXTURE_VERSION = 1,
    MAXIMUM_DETAIL_TEXTURES_PER_MAP = 128,
    // Where the little-endian byte count of the codec stream lies in the
    // tag's data, and where the stream follows it.
    DETAIL_TEXTURE_COUNT_OFFSET = 16,
    DETAIL_TEXTURE_STREAM_OFFSET = 20,
    // The back end's usage flags of a detail texture.
    DETAIL_TEXTURE_USAGE_FLAGS = 88,
};

// The stored header (big-endian; width and height swapped, the two run-time
// words kept as stored and ignored).  The byte count at 16 is little-endian:
// stored tags were written so, and it is read apart from this record.
struct detail_texture_definition
{
    uint32_t width, height;
    uint32_t pixels24; // run time
    uint32_t hardware_format; // run time
};
static_assert(sizeof(detail_texture_definition) == 16);
static_assert(offsetof(detail_texture_definition, height) == 4);
static_assert(offsetof(detail_texture_definition, pixels24) == 8);
static_assert(offsetof(detail_texture_definition, hardware_format) == 12);

// What a loaded detail texture keeps (its side record in the registry).
struct detail_texture_runtime
{
    int32_t width, height; // of the decoded image
    preallocated_texture *hardware_format; // null when the back end made none
};

extern definition_globals detail_texture_definitions;

// Registers the group ("detail_textures").  False when the registry refuses it.
bool initialize_detail_textures(void);
// Empties the group for the map that begins.
void initialize_detail_textures_for_new_map(void);
// Disposes the group's definitions of the map that ends.
void dispose_detail_textures_from_old_map(void);

// The registry's postprocess: unless preloaded, reads the byte count at 16
// (it must fit the tag), decodes the stream at 20, describes the pixels as a
// 24-bit RGB texture bitmap and has the back end make a resident texture of
// it; the pixels are freed.  False, with a log line, for a count or stream
// that does not fit or does not decode; error 3 when the tag cannot be read.
bool postprocess_detail_texture_definition(definition_globals *group, int32_t definition_index, int32_t tag_index,
                                           void *definition);

// Checks and decodes the whole tag data of a detail texture (`size` bytes as
// stored): the byte count at 16 must fit the data and the stream at 20 must
// decode.  The pixels are malloc'd (the caller frees them).  False with
// `*reason` set, nothing allocated, when they do not.
bool unpack_detail_texture_data(const uint8_t *data, uint32_t size, uint8_t **pixels24, int32_t *width,
                                int32_t *height, const char **reason);

// The run-time record of a loaded detail texture; null for none.
const detail_texture_runtime *get_detail_texture(int32_t definition_index);

// The tag data of a detail texture of `width` x `height` 24-bit RGB pixels:
// the header, the little-endian byte count and the codec stream.  Malloc'd
// (the caller frees it) with its size in `*size`; null when the codec refuses
// the image.  The data tool writes detail textures with it.
uint8_t *build_detail_texture_tag_data(const uint8_t *pixels, int32_t width, int32_t height, int32_t *size);
