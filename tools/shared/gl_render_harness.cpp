#include "gl_render_harness.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "bitmaps.h"
#include "hardware/OpenGL/gl_dispatch.h"
#include "hardware/OpenGL/render_opengl.h"
#include "hardware/OpenGL/setup_opengl_sdl.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "render/render_surfaces.h"
#include "render_harness.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_sdl.h"

static struct gl_render_harness_globals
{
    bool started;
    active_color_environment saved_screen;
} gl_render_harness_globals;

bool start_gl_render_harness(int16_t width, int16_t height, screen_parameters *prefs, const char **reason)
{
    gl_render_harness_globals.saved_screen = active_screen;
    init_sdl();
    active_screen.rasterizer_code = _rasterizer_opengl;
    active_screen.width = active_screen.physical_pixel_width = width;
    active_screen.height = active_screen.physical_pixel_height = height;
    active_screen.bit_depth = 32;
    active_screen.dpi = 96;
    active_screen.prefs = prefs;
    if (!create_sdl_window(width, height, 32, SDL_OPENGL))
    {
        *reason = "no OpenGL window could be opened on this display";
        active_screen = gl_render_harness_globals.saved_screen;
        return false;
    }
    load_gl_core_procedures();
    if (!get_opengl_device_info(&opengl_device))
    {
        *reason = "the OpenGL version is below 1.1, or 1.1 without GL_EXT_bgra";
        stop_gl_render_harness();
        return false;
    }
    gl_render_harness_globals.started = true;
    if (!restart_gl_render_harness())
    {
        *reason = "the OpenGL rasterizer could not be started";
        stop_gl_render_harness();
        return false;
    }
    return true;
}

bool restart_gl_render_harness(void)
{
    if (!gl_render_harness_globals.started) return false;
    dispose_opengl_rasterizer_from_old_map();
    if (!initialize_opengl_rasterizer_for_new_map()) return false;
    initialize_opengl_mesh_parameters_for_new_map();
    return true;
}

void stop_gl_render_harness(void)
{
    if (gl_render_harness_globals.started) dispose_opengl_rasterizer_from_old_map();
    gl_render_harness_globals.started = false;
    restore_world_device();
    active_screen = gl_render_harness_globals.saved_screen;
}

bool draw_camera_view_opengl(view_data *view)
{
    if (!gl_render_harness_globals.started || !opengl_rasterizer_initialized()) return false;
    // The frame buffer: a bitmap of the back end's encoding without pixels.
    bitmap_data *frame = static_cast<bitmap_data *>(calloc(1, sizeof(bitmap_data)));
    if (!frame) return false;
    frame->width = active_screen.width;
    frame->height = active_screen.height;
    frame->encoding = _opengl_frame_buffer_encoding;
    frame->bytes_per_row = -1;
    view->screen = frame;
    view->rasterizer_code = _rasterizer_opengl;
    // Black where the world is not, as the software frames start.
    clear_opengl_backbuffer();
    render_camera_view(view);
    view->screen = nullptr;
    free(frame);
    // One pixel read back waits for the whole frame.
    const rectangle2d one = {0, 0, 1, 1};
    bitmap_data *pixel = copy_bits_from_opengl_render_buffer(&one);
    free(pixel);
    return pixel != nullptr;
}

bool render_camera_view_opengl(view_data *view, std::vector<uint8_t> *rgb)
{
    if (!draw_camera_view_opengl(view)) return false;
    const rectangle2d whole = {0, 0, active_screen.height, active_screen.width};
    bitmap_data *pixels = copy_bits_from_opengl_render_buffer(&whole);
    const bool ok = pixels && render_back_buffer_to_rgb(pixels, rgb);
    free(pixels);
    return ok;
}
