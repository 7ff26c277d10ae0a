#include "setup_opengl_sdl.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

#include "cseries/log.h"
#include "gl_dispatch.h"
#include "observer.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_sdl.h"

static struct setup_opengl_globals
{
    bool exit_handler_registered;
    bool shaders_forced_off;
    opengl_settings_result last_settings;
} setup_opengl_globals;

static uint16_t screen_flags(void) { return active_screen.prefs ? active_screen.prefs->flags : 0; }

void query_opengl_devices_opengl(void)
{
    if (!create_sdl_window(640, 480, 0, SDL_OPENGL)) return;
    load_gl_core_procedures();
    if (!get_opengl_device_info(&opengl_device)) return;
    display_device_query_and_report_modes(_rasterizer_opengl, opengl_device.name, &opengl_device);
}

bool setup_opengl_context(const device_info_opengl *device)
{
    (void)device;
    set_sdl_gl_attribute(SDL_GL_ACCELERATED_VISUAL, 1);
    set_sdl_gl_attribute(SDL_GL_DOUBLEBUFFER, 1);
    set_sdl_gl_attribute(SDL_GL_DEPTH_SIZE, gl_prefs.UseDepthTest ? 24 : 0);
    return create_sdl_window(active_screen.width, active_screen.height, 32, SDL_OPENGL);
}

void create_opengl_window(void) {}
void dispose_opengl_window(void) {}
void dispose_opengl_context(void) {}
void my_opengl_shutdown(void) { dispose_opengl_context(); }

static void my_opengl_shutdown_at_exit(void) { my_opengl_shutdown(); }

void copy_opengl_world_to_screen(void) { swap_sdl_gl_buffers(); }

void platform_set_vsync_interval_opengl(int32_t interval) { set_sdl_gl_attribute(SDL_GL_SWAP_CONTROL, interval); }

void set_vsync_interval_opengl(int32_t interval)
{
    if (interval == -1) interval = (screen_flags() & _screen_pref_vsync_enabled_flag) ? 1 : 0;
    platform_set_vsync_interval_opengl(interval);
}

void force_opengl_shaders_off(bool forced) { setup_opengl_globals.shaders_forced_off = forced; }

const opengl_settings_result *last_opengl_settings(void) { return &setup_opengl_globals.last_settings; }

bool SetupOpenGLContext(void)
{
    const device_info_opengl *device = &opengl_device;
    if (active_screen.device && active_screen.device->extra_data)
        device = (const device_info_opengl *)active_screen.device->extra_data;
    gl_prefs_default = opengl_run_time_defaults(device);
    inifile_readsec(&gl_prefs_section);
    const opengl_preferences read = gl_prefs;
    gl_prefs.ReuseContext = true;

    if (!setup_opengl_globals.exit_handler_registered)
    {
        atexit(my_opengl_shutdown_at_exit);
        setup_opengl_globals.exit_handler_registered = true;
    }
    // The swap interval takes effect when the window is opened.
    set_vsync_interval_opengl(-1);
    create_opengl_window();
    if (!setup_opengl_context(device))
    {
        log_message(__FILE__, __LINE__, "OpenGL: Context setup failed!");
        dispose_opengl_window();
        return false;
    }
    load_gl_core_procedures();
    reset_clear_color_opengl();

    // What the driver offers, decided from its strings: the lookup hands out
    // stubs for names it does not know.
    const char *extensions = (const char *)gl.GetString(GL_EXTENSIONS);
    opengl_settings_inputs inputs = {};
    inputs.device = device;
    inputs.screen_flags = screen_flags();
    inputs.texture_cache_size = active_screen.prefs ? active_screen.prefs->texture_cache_size : 0;
    inputs.extensions = extensions;
    if (extension_in_list(extensions, "GL_EXT_texture_filter_anisotropic"))
        gl.GetFloatv(GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT, &inputs.driver_max_anisotropy);
    if (read.UseShaders && device->opengl2_device)
    {
        inputs.shader_procedures_found = load_gl_opengl2_procedures(&inputs.missing_procedure);
        inputs.generate_mipmap_form = gl_generate_mipmap_form(device->opengl_version, extensions);
        inputs.generate_mipmap_found = load_gl_generate_mipmap(inputs.generate_mipmap_form);
    }
    inputs.shader_program_failed = setup_opengl_globals.shaders_forced_off;
    inputs.perma_disable_extended_zoom = perma_disable_extended_zoom;
    inputs.extended_zoom_enabled = extended_zoom_enabled;

    opengl_settings_result *result = &setup_opengl_globals.last_settings;
    compute_opengl_settings(&read, &inputs, result);
    gl_prefs = result->prefs;
    max_anisotropy = result->max_anisotropy;
    for (int32_t i = 0; i < result->line_count; ++i) log_message(nullptr, -1, "%s", result->lines[i]);
    if (!gl_prefs.UseShaders)
    {
        clear_gl_opengl2_procedures(); // without shaders nothing of OpenGL 2.0 is called
    }
    if (!gl_prefs.UseMipMaps) gl.GenerateMipmap = nullptr;

    gl.PixelStorei(GL_PACK_ALIGNMENT, 1);
    gl.PixelStorei(GL_UNPACK_ALIGNMENT, 1);
    if (gl_prefs.MSAASamples >= 2) gl.Enable(GL_MULTISAMPLE);
    return true;
}
