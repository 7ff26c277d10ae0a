// Headless frames of a running map (see render_harness.h).
#include "render_harness.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_drawing.h"
#include "bitmaps.h"
#include "cseries/cseries.h"
#include "game_time.h"
#include "image_files.h"
#include "media.h"
#include "mesh.h"
#include "mesh_format.h"
#include "render/render.h"
#include "screen.h"

static const double CELL_WORLD_UNITS = 512.0; // WORLD_ONE
static const double DEGREES_TO_RADIANS = 3.14159265358979323846 / 180.0;

bool parse_render_camera(const char *text, render_camera *camera)
{
    double values[5];
    int consumed = 0;
    if (!text || sscanf(text, "%lf,%lf,%lf,%lf,%lf%n", &values[0], &values[1], &values[2], &values[3], &values[4],
                        &consumed) != 5 || text[consumed] != 0)
        return false;
    for (double value : values)
        if (!std::isfinite(value)) return false;
    camera->x = values[0];
    camera->y = values[1];
    camera->z = values[2];
    camera->yaw = values[3];
    camera->pitch = values[4];
    return true;
}

bool set_render_harness_screen(int32_t depth, int16_t width, int16_t height)
{
    if ((depth != 16 && depth != 32) || width < 1 || width > 4095 || height < 1 || height > 4095) return false;
    // Collections and shading tables take the software screen's encoding
    // only from an initialised screen record.
    active_screen.screen_initialized = 1;
    active_screen.rasterizer_code = _rasterizer_software;
    active_screen.encoding = depth == 16 ? _16bit_565_encoding : _32bit_encoding;
    active_screen.bit_depth = (int16_t)depth;
    active_screen.width = width;
    active_screen.height = height;
    active_screen.physical_pixel_width = width;
    active_screen.physical_pixel_height = height;
    active_screen.dpi = 96;
    return true;
}

bool render_camera_is_usable(const render_camera *camera, char *reason, size_t reason_size)
{
    if (!get_mesh_header())
    {
        slprintf(reason, reason_size, "no map is running");
        return false;
    }
    if (!(camera->x >= 0 && camera->x < mesh_width && camera->y >= 0 && camera->y < mesh_height))
    {
        slprintf(reason, reason_size, "the camera (%g, %g) lies off the map of %d x %d cells", camera->x, camera->y,
                 (int)mesh_width, (int)mesh_height);
        return false;
    }
    if (!(camera->pitch >= -90 && camera->pitch < 90))
    {
        slprintf(reason, reason_size, "the camera's pitch %g is not within -90 (straight down) and below 90",
                 camera->pitch);
        return false;
    }
    if (camera->field_of_view != 0 && !(camera->field_of_view >= 1 && camera->field_of_view <= 170))
    {
        slprintf(reason, reason_size, "the field of view %g is not within 1 and 170 degrees", camera->field_of_view);
        return false;
    }
    const world_point2d ground = {(world_distance)std::lround(camera->x * CELL_WORLD_UNITS),
                                  (world_distance)std::lround(camera->y * CELL_WORLD_UNITS)};
    const world_distance height = get_mesh_height(&ground, _mesh_ground_height);
    if (!(camera->z * CELL_WORLD_UNITS <= 32767) || (height != MESH_NO_HEIGHT && camera->z * CELL_WORLD_UNITS <= height))
    {
        slprintf(reason, reason_size, "the camera's height %g cells is under the terrain or too high", camera->z);
        return false;
    }
    return true;
}

static angle degrees_to_angle(double degrees)
{
    const double turns = degrees / 360.0;
    return (angle)(uint32_t)(int64_t)std::lround((turns - std::floor(turns)) * 65536.0);
}

void build_render_camera_view(view_data *view, const render_camera *camera, const render_frame_options *options,
                              bitmap_data *screen)
{
    memset(view, 0, sizeof(*view));
    if (options->filter) view->flags |= _view_filtering_flag;
    if (options->omit_objects) view->flags |= _render_view_omit_objects_flag | _render_view_omit_models_flag;
    const mesh_header *header = get_mesh_header();
    if (header && header->media_tag != (tag)NONE)
    {
        const media_definition *media = get_media_definition(0);
        if (media && (media->flags & 1)) view->flags |= _view_media_flag;
    }
    view->resolution_width = options->width;
    view->resolution_height = options->height;
    view->half_resolution_width = (int16_t)(options->width / 2);
    view->half_resolution_height = (int16_t)(options->height / 2);
    world_location3d location;
    memset(&location, 0, sizeof(location));
    location.position = {(world_distance)std::lround(camera->x * CELL_WORLD_UNITS),
                         (world_distance)std::lround(camera->y * CELL_WORLD_UNITS),
                         (world_distance)std::lround(camera->z * CELL_WORLD_UNITS)};
    location.height = (short_world_distance)std::lround(camera->z * CELL_WORLD_UNITS);
    location.yaw = degrees_to_angle(camera->yaw);
    location.pitch = degrees_to_angle(camera->pitch);
    view->location = location;
    view->tick_count = game_ ? game_->local_time.load() : 0;
    view->game_ticks_elapsed = 0;
    if (camera->field_of_view > 0)
        view->tangent_of_half_field_of_view = (float)std::tan(camera->field_of_view * 0.5 * DEGREES_TO_RADIANS);
    else
    {
        // The observer's: 50 degrees at 4:3, wider for wider frames.
        const float aspect = options->height > 0 ? (float)options->width * 0.75f / (float)options->height : 1.0f;
        view->tangent_of_half_field_of_view = std::tan(25.0f * 3.14159265f / 180.0f) * aspect;
    }
    view->horizontal_offset = 0;
    view->vertical_offset = -0.14285715f;
    view->rasterizer_code = _rasterizer_software;
    view->screen = screen;
}

bitmap_data *new_render_back_buffer(int16_t width, int16_t height)
{
    const int16_t encoding = active_screen.encoding == _16bit_565_encoding ? _16bit_565_encoding : _32bit_encoding;
    bitmap_data *bitmap = new_bitmap(width, height, 0, encoding, 0);
    if (!bitmap) return nullptr;
    const int32_t bytes = get_encoding_byte_depth(encoding) * width;
    for (int32_t y = 0; y < height; ++y) memset(bitmap->row_addresses[y], 0, (size_t)bytes);
    return bitmap;
}

void render_camera_view(view_data *view) { render_scene(view); }

bool render_back_buffer_to_rgb(const bitmap_data *bitmap, std::vector<uint8_t> *rgb)
{
    if (!bitmap || (bitmap->encoding != _16bit_565_encoding && bitmap->encoding != _32bit_encoding)) return false;
    bitmap_data *copy = new_bitmap(bitmap->width, bitmap->height, 0, _24bit_encoding, _bitmap_extended_encoding_flag);
    if (!copy) return false;
    if (choose_copy_bitmap_mode(copy, bitmap, false, 0) == NONE)
    {
        free(copy);
        return false;
    }
    copy_bitmap(copy, nullptr, bitmap, nullptr, nullptr, 0, nullptr);
    rgb->resize((size_t)bitmap->width * bitmap->height * 3);
    for (int32_t y = 0; y < bitmap->height; ++y)
        memcpy(rgb->data() + (size_t)y * bitmap->width * 3, copy->row_addresses[0] + (ptrdiff_t)y * copy->bytes_per_row,
               (size_t)bitmap->width * 3);
    free(copy);
    return true;
}

bool write_rgb_png(const char *path, const uint8_t *rgb, int32_t width, int32_t height, char *reason,
                   size_t reason_size)
{
    int32_t size = 0;
    uint8_t *png = compress_image_to_png_file_in_memory(rgb, width, height, width * 3, &size);
    if (!png)
    {
        slprintf(reason, reason_size, "the frame could not be encoded as PNG");
        return false;
    }
    FILE *file = fopen(path, "wb");
    bool written = file && fwrite(png, 1, (size_t)size, file) == (size_t)size;
    if (file && fclose(file) != 0) written = false;
    free(png);
    if (!written)
    {
        remove(path);
        slprintf(reason, reason_size, "cannot write \"%s\"", path);
        return false;
    }
    return true;
}
