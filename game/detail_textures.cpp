// Detail textures ('dtex').  See detail_textures.h.

#include "detail_textures.h"

#include <cstdlib>
#include <cstring>

#include "bitmaps.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "hardware_rasterizer.h"
#include "quarn1/quarn1.h"
#include "tag_files/tag_files.h"

static const byte_swap_code detail_texture_byte_swapping_data[] = {
    _begin_bs_array, 1, _4byte, _4byte, 8, _end_bs_array};

static void release_detail_texture(void *runtime);

definition_globals detail_texture_definitions = {
    .name = "detail_textures",
    .group = DETAIL_TEXTURE_GROUP_TAG,
    .current_version = DETAIL_TEXTURE_VERSION,
    .maximum_count = MAXIMUM_DETAIL_TEXTURES_PER_MAP,
    .size = sizeof(detail_texture_definition),
    .runtime_size = sizeof(detail_texture_runtime),
    .dependencies = nullptr,
    .postprocess = postprocess_detail_texture_definition,
    .convert = nullptr,
    .default_definition = nullptr,
    .tag_header_user_data = nullptr,
    .byte_swapping_data = detail_texture_byte_swapping_data,
    .release_runtime = release_detail_texture,
};

bool unpack_detail_texture_data(const uint8_t *data, uint32_t size, uint8_t **pixels24, int32_t *width,
                                int32_t *height, const char **reason)
{
    *pixels24 = nullptr;
    *width = *height = 0;
    if (size < DETAIL_TEXTURE_STREAM_OFFSET) return *reason = "the tag is shorter than its header", false;
    // Little-endian on disk, whatever the rest of the tag is.
    const uint8_t *c = data + DETAIL_TEXTURE_COUNT_OFFSET;
    const uint32_t count = (uint32_t)c[0] | ((uint32_t)c[1] << 8) | ((uint32_t)c[2] << 16) | ((uint32_t)c[3] << 24);
    if (count > size - DETAIL_TEXTURE_STREAM_OFFSET)
        return *reason = "its stream's byte count runs past the end of the tag", false;
    if (!quarn1_decode(pixels24, width, height, data + DETAIL_TEXTURE_STREAM_OFFSET, (int32_t)count))
        return *reason = "its image does not decode", false;
    return true;
}

bool postprocess_detail_texture_definition(definition_globals *group, int32_t definition_index, int32_t tag_index,
                                           void *definition)
{
    (void)definition; // the tag's data is read whole below, header and all
    if (group->flags[definition_index] & _definition_preloaded_flag) return true;
    detail_texture_runtime *runtime = (detail_texture_runtime *)get_definition_runtime(group, definition_index);
    tag_file_info info;
    if (!runtime || !tag_file_info_get(tag_index, &info) || info.size < 0)
    {
        ERROR_MESSAGE(_error_file_read, "couldn't read data from detail texture %s.", "<unknown>");
        return false;
    }
    const uint32_t size = (uint32_t)info.size;
    uint8_t *data = (uint8_t *)malloc(size ? size : 1);
    if (!data)
    {
        ERROR_MESSAGE(_error_out_of_memory, "allocation of %d bytes failed for data from detail texture %s",
                      (int)size, info.name);
        return false;
    }
    if (!tag_file_read(tag_index, 0, (int32_t)size, data))
    {
        free(data);
        ERROR_MESSAGE(_error_file_read, "couldn't read data from detail texture %s.", info.name);
        return false;
    }
    uint8_t *pixels24;
    int32_t width, height;
    const char *reason = nullptr;
    const bool unpacked = unpack_detail_texture_data(data, size, &pixels24, &width, &height, &reason);
    free(data);
    if (!unpacked)
    {
        log_message(__FILE__, __LINE__, "detail texture %s refused: %s", info.name, reason);
        return false;
    }

    // The pixels live only for the call: the back end copies what it keeps.
    bitmap_data bitmap;
    initialize_bitmap_data_lite(&bitmap, pixels24, (int16_t)width, (int16_t)height, (int16_t)(width * 3),
                                _24bit_rgb_888_texture_encoding);
    preallocated_texture *texture = initialize_preallocated_texture(nullptr, &bitmap, _bitmap_ownership_ephemeral,
                                                                    nullptr, DETAIL_TEXTURE_USAGE_FLAGS);
    free(pixels24);
    runtime->width = width;
    runtime->height = height;
    runtime->hardware_format = texture;
    return true;
}

// The back end frees its resident textures when the map ends; only the
// handle is forgotten here.
static void release_detail_texture(void *runtime)
{
    ((detail_texture_runtime *)runtime)->hardware_format = nullptr;
}

const detail_texture_runtime *get_detail_texture(int32_t definition_index)
{
    if (!try_and_get_definition(&detail_texture_definitions, definition_index)) return nullptr;
    return (const detail_texture_runtime *)get_definition_runtime(&detail_texture_definitions, definition_index);
}

bool initialize_detail_textures(void)
{
    return detail_texture_definitions.registered || initialize_definitions(&detail_texture_definitions);
}

void initialize_detail_textures_for_new_map(void)
{
    if (detail_texture_definitions.registered) initialize_definitions_for_new_map(&detail_texture_definitions);
}

void dispose_detail_textures_from_old_map(void)
{
    if (detail_texture_definitions.registered) dispose_definitions_from_old_map(&detail_texture_definitions);
}

uint8_t *build_detail_texture_tag_data(const uint8_t *pixels, int32_t width, int32_t height, int32_t *size)
{
    uint8_t *stream;
    int32_t length;
    if (!quarn1_encode(pixels, width, height, &stream, &length)) return nullptr;
    uint8_t *data = (uint8_t *)calloc(1, (size_t)length + DETAIL_TEXTURE_STREAM_OFFSET);
    if (!data)
    {
        free(stream);
        return nullptr;
    }
    detail_texture_definition header = {(uint32_t)width, (uint32_t)height, 0, 0};
    byte_swap_data("detail texture", &header, sizeof(header), 1, detail_texture_byte_swapping_data);
    memcpy(data, &header, sizeof(header));
    const uint32_t n = (uint32_t)length;
    const uint8_t count[4] = {(uint8_t)n, (uint8_t)(n >> 8), (uint8_t)(n >> 16), (uint8_t)(n >> 24)};
    memcpy(data + DETAIL_TEXTURE_COUNT_OFFSET, count, 4);
    memcpy(data + DETAIL_TEXTURE_STREAM_OFFSET, stream, (size_t)length);
    free(stream);
    *size = length + DETAIL_TEXTURE_STREAM_OFFSET;
    return data;
}
