// vesk_gl_probe: what the OpenGL back end makes of this display.  Opens a
// context on the current display, reads "preferences/poweruser.txt" from the
// data directory, and prints the device, every forcing line and the effective
// settings.  With --pattern FILE.png it also draws one textured quad per
// texture encoding through the texture cache and its upload callbacks, reads
// the frame back and writes it as a PNG.
//
//   vesk_gl_probe [--data DIR] [--pattern FILE.png]
//
// Exits 0; 1 with a one-line reason when no OpenGL device is found, 2 for a
// bad command line or a picture that cannot be written.

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bitmaps.h"
#include "gl_pattern.h"
#include "hardware/OpenGL/setup_opengl_sdl.h"
#include "hardware/OpenGL/utilities_opengl.h"
#include "image_files.h"
#include "iniparser3.0b/inifile.h"
#include "screen_preferences.h"
#include "cseries/system_info.h"
#include "subsystems.h"
#include "tool_help.h"

static int usage(FILE *out = stderr)
{
    fprintf(out, "usage: vesk_gl_probe [--data DIR] [--pattern FILE.png]\n");
    return 2;
}

static bool write_frame_png(const bitmap_data *frame, const char *path)
{
    std::string rgb((size_t)frame->width * (size_t)frame->height * 3, '\0');
    for (int32_t y = 0; y < frame->height; ++y)
    {
        const uint8_t *row = frame->row_addresses[0] + (size_t)y * (size_t)frame->bytes_per_row;
        for (int32_t x = 0; x < frame->width; ++x)
        {
            char *out = &rgb[((size_t)y * (size_t)frame->width + (size_t)x) * 3];
            out[0] = (char)row[x * 4 + 2], out[1] = (char)row[x * 4 + 1], out[2] = (char)row[x * 4 + 0];
        }
    }
    int32_t size = 0;
    uint8_t *png = compress_image_to_png_file_in_memory((const uint8_t *)rgb.data(), frame->width, frame->height,
                                                        frame->width * 3, &size);
    if (!png) return false;
    FILE *file = fopen(path, "wb");
    bool written = file && fwrite(png, 1, (size_t)size, file) == (size_t)size;
    if (file && fclose(file) != 0) written = false;
    free(png);
    if (!written) remove(path);
    return written;
}

int main(int argc, char **argv)
{
    if (tool_help_asked(argc, argv)) return usage(stdout), 0;
    const char *data = nullptr;
    std::string pattern;
    for (int i = 1; i < argc; ++i)
    {
        if (!strcmp(argv[i], "--data") && i + 1 < argc) data = argv[++i];
        else if (!strcmp(argv[i], "--pattern") && i + 1 < argc) pattern = argv[++i];
        else return usage();
    }
    if (!pattern.empty() && pattern[0] != '/')
    {
        char here[PATH_MAX];
        if (!getcwd(here, sizeof(here))) return usage();
        pattern = std::string(here) + "/" + pattern;
    }
    if (data && chdir(data) != 0)
    {
        fprintf(stderr, "vesk_gl_probe: cannot enter the data directory %s\n", data);
        return 2;
    }
    register_built_subsystems();
    load_poweruser_settings();

    screen_parameters prefs = {};
    prefs.texture_cache_size = default_texture_cache_size(get_physical_memory_size());
    prefs.flags = _screen_pref_32bit_flag | _screen_pref_anisotropic_filtering_flag | _screen_pref_fog_enabled_flag;
    const char *reason = nullptr;
    if (!start_gl_pattern_context(GL_PATTERN_WIDTH, GL_PATTERN_HEIGHT, &prefs, &reason))
    {
        printf("vesk_gl_probe: no OpenGL device found: %s\n", reason);
        return 1;
    }
    printf("device: %s, renderer \"%s\", vendor \"%s\", maximum texture size %d, OpenGL 2 device %s\n",
           opengl_device.name, opengl_device.renderer, opengl_device.vendor, (int)opengl_device.max_texture_size,
           opengl_device.opengl2_device ? "yes" : "no");
    printf("screen preferences: texture cache %d MB, 32-bit textures, anisotropic filtering, fog\n",
           (int)prefs.texture_cache_size);
    const opengl_settings_result *settings = last_opengl_settings();
    for (int32_t i = 0; i < settings->line_count; ++i) printf("%s\n", settings->lines[i]);
    printf("effective: ClearColor=%d TextureLodBias=%.2f MaxAnisotropy applied %.1f\n", (int)gl_prefs.ClearColor,
           (double)gl_prefs.TextureLodBias, (double)max_anisotropy);

    int status = 0;
    if (!pattern.empty())
    {
        bitmap_data *frame = draw_gl_pattern();
        if (!frame || !write_frame_png(frame, pattern.c_str()))
        {
            printf("vesk_gl_probe: the pattern could not be written to %s\n", pattern.c_str());
            status = 2;
        }
        else printf("pattern: %s (%d x %d)\n", pattern.c_str(), (int)frame->width, (int)frame->height);
        free(frame);
    }
    stop_gl_pattern_context();
    return status;
}
