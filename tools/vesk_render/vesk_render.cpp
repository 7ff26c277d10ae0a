// vesk_render: starts a map headless and renders one frame of it from a free
// camera into a PNG, for looking at the renderer's output and for the golden
// frames.
//
//     vesk_render [--data DIR] --map TAG --camera X,Y,Z,YAW,PITCH [--fov DEGREES] --size WxH
//                 --depth 16|32 [--filter on|off] [--omit-objects] [--ticks N]
//                 [--rasterizer software|opengl] --out FILE.png
//
// The camera's eye is at (X, Y, Z) in cells (512 world units), looking along
// YAW degrees (0 along +x, 90 along +y) and PITCH degrees (negative looks
// down, -90 straight down).  --fov is the horizontal field of view (default:
// the observer's, 50 degrees at 4:3).  The map starts as vesk_sim starts it
// (seed 0), with the screen record set to a software back buffer of the
// given depth first (16: 565, 32: 32-bit), so collections and terrain tables
// are built for it; N ticks run before the frame (default 0).  Filtering is
// on unless --filter off; --omit-objects leaves out objects and models.
// DIR holds "tags" and "plugins" (default: the directory vesk_render itself
// is in, the game's folder, as for the game and the other tools); the log
// is "vesk_render_log.txt" in the directory it was called from, never in DIR.
//
// --rasterizer opengl draws the same frame through the OpenGL back end in a
// window of --size on the current display (DISPLAY; 32 bits, detail maps
// off, the power-user section "Renderer.OpenGL" of DIR) and reads it back;
// software (the default) draws it in memory.
//
// Exits 0 with the PNG written.  A map or camera that cannot be used, or an
// output that cannot be written, gives one line on standard error and exits
// 1; bad arguments exit 2.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "bitmaps.h"
#include "cseries/cseries.h"
#include "cseries/files.h"
#include "cseries/log.h"
#include "cseries/tags.h"
#include "determinism_harness.h"
#include "gl_render_harness.h"
#include "screen_preferences.h"
#include "render/render.h"
#include "render_harness.h"
#include "tool_folders.h"
#include "version.h"
#include "tool_help.h"

static void usage(FILE *out = stderr)
{
    fprintf(out, "usage: vesk_render [--data DIR] --map TAG --camera X,Y,Z,YAW,PITCH [--fov DEGREES] --size WxH "
                    "--depth 16|32 [--filter on|off] [--omit-objects] [--ticks N] [--rasterizer software|opengl] "
                    "--out FILE.png\n");
}

static bool parse_int(const char *text, long minimum, long maximum, long *value)
{
    if (!text || !*text) return false;
    char *end = nullptr;
    const long parsed = strtol(text, &end, 10);
    if (*end || parsed < minimum || parsed > maximum) return false;
    *value = parsed;
    return true;
}

// What the command line asks of the tool.
struct render_tool_options
{
    const char *data = nullptr, *map = nullptr, *out = nullptr;
    render_camera camera = {};
    bool have_camera = false;
    render_frame_options options = {};
    long depth = 0, ticks = 0;
    bool opengl = false;
};

// Reads the command line into `o`.  Returns -1 to go on, or 2 after a usage
// error.
static int parse_render_arguments(int argc, char **argv, render_tool_options *o)
{
    const char *&data = o->data, *&map = o->map, *&out = o->out;
    render_camera &camera = o->camera;
    bool &have_camera = o->have_camera;
    render_frame_options &options = o->options;
    long &depth = o->depth, &ticks = o->ticks;
    bool &opengl = o->opengl;
    for (int i = 1; i < argc; ++i)
    {
        const char *option = argv[i];
        const bool has_value = i + 1 < argc;
        if (!strcmp(option, "--data") && has_value)
            data = argv[++i];
        else if (!strcmp(option, "--map") && has_value)
            map = argv[++i];
        else if (!strcmp(option, "--out") && has_value)
            out = argv[++i];
        else if (!strcmp(option, "--camera") && has_value)
        {
            if (!parse_render_camera(argv[++i], &camera))
            {
                fprintf(stderr, "vesk_render: --camera wants X,Y,Z,YAW,PITCH, not \"%s\"\n", argv[i]);
                return usage(), 2;
            }
            have_camera = true;
        }
        else if (!strcmp(option, "--fov") && has_value)
        {
            char *end = nullptr;
            camera.field_of_view = strtod(argv[++i], &end);
            if (*end || !(camera.field_of_view > 0)) return usage(), 2;
        }
        else if (!strcmp(option, "--size") && has_value)
        {
            int w = 0, h = 0, consumed = 0;
            if (sscanf(argv[++i], "%dx%d%n", &w, &h, &consumed) != 2 || argv[i][consumed] || w < 1 || w > 4095 ||
                h < 1 || h > 4095)
            {
                fprintf(stderr, "vesk_render: --size wants WxH within 1..4095, not \"%s\"\n", argv[i]);
                return usage(), 2;
            }
            options.width = (int16_t)w;
            options.height = (int16_t)h;
        }
        else if (!strcmp(option, "--depth") && has_value)
        {
            if (!parse_int(argv[++i], 16, 32, &depth) || (depth != 16 && depth != 32)) return usage(), 2;
        }
        else if (!strcmp(option, "--filter") && has_value)
        {
            const char *value = argv[++i];
            if (!strcmp(value, "on")) options.filter = true;
            else if (!strcmp(value, "off")) options.filter = false;
            else return usage(), 2;
        }
        else if (!strcmp(option, "--rasterizer") && has_value)
        {
            const char *value = argv[++i];
            if (!strcmp(value, "software")) opengl = false;
            else if (!strcmp(value, "opengl")) opengl = true;
            else return usage(), 2;
        }
        else if (!strcmp(option, "--omit-objects"))
            options.omit_objects = true;
        else if (!strcmp(option, "--ticks") && has_value)
        {
            if (!parse_int(argv[++i], 0, 100000000, &ticks)) return usage(), 2;
        }
        else
            return usage(), 2;
    }
    return -1;
}

int main(int argc, char **argv)
{
    report_failed_writes();
    if (tool_help_asked(argc, argv)) return usage(stdout), 0;
    render_tool_options tool;
    tool.options.filter = true;
    const int parsed = parse_render_arguments(argc, argv, &tool);
    if (parsed >= 0) return parsed;
    // Without --data, the game beside the program, from wherever it is called.
    static char program_directory[PATH_MAX];
    if (!tool.data && get_executable_directory(program_directory, sizeof(program_directory)))
        tool.data = program_directory;
    const char *data = tool.data, *map = tool.map, *out = tool.out;
    const render_camera camera = tool.camera;
    const bool have_camera = tool.have_camera;
    const render_frame_options options = tool.options;
    const long depth = tool.depth, ticks = tool.ticks;
    const bool opengl = tool.opengl;
    if (!map || strlen(map) != 4 || !have_camera || !out || options.width == 0 || depth == 0) return usage(), 2;

    // The output names a file in the working directory of the call, which the
    // harness leaves for the data directory.
    char working[4096];
    const std::string directory = getcwd(working, sizeof(working)) ? working : ".";
    const std::string out_path = out[0] == '/' ? out : directory + "/" + out;

    char header[512];
    slprintf(header, sizeof(header), "%s vesk_render started:", VESK_VERSION_STRING);
    for (int i = 0; i < argc; ++i) slprintfcat(header, sizeof(header), " %s", argv[i]);
    open_tool_log_file("vesk_render", directory.c_str(), header); // where it was called from, never DIR
    if (!use_private_player_folders("vesk_render"))
    {
        close_log_file();
        return 1;
    }

    set_render_harness_screen((int32_t)depth, options.width, options.height);
    char reason[512];
    if (!start_simulation(data, string_to_tag(map), 0, reason, sizeof(reason)))
    {
        fprintf(stderr, "%s\n", reason);
        close_log_file();
        return 1;
    }
    if (ticks > 0 && !run_simulation((int32_t)ticks, nullptr, 0, nullptr, nullptr))
    {
        fprintf(stderr, "vesk_render: the game stopped before tick %ld\n", ticks);
        stop_simulation();
        close_log_file();
        return 1;
    }
    if (!render_camera_is_usable(&camera, reason, sizeof(reason)))
    {
        fprintf(stderr, "vesk_render: %s\n", reason);
        stop_simulation();
        close_log_file();
        return 1;
    }
    std::vector<uint8_t> rgb;
    bool ok = false;
    if (opengl)
    {
        static screen_parameters prefs;
        prefs.texture_cache_size = 64;
        prefs.flags = _screen_pref_32bit_flag;
        const char *why = nullptr;
        if (!start_gl_render_harness(options.width, options.height, &prefs, &why))
        {
            fprintf(stderr, "vesk_render: %s\n", why);
            stop_simulation();
            close_log_file();
            return 1;
        }
        view_data view;
        build_render_camera_view(&view, &camera, &options, nullptr);
        view.game_ticks_elapsed = (int32_t)ticks;
        ok = render_camera_view_opengl(&view, &rgb);
        stop_gl_render_harness();
    }
    else if (bitmap_data *buffer = new_render_back_buffer(options.width, options.height))
    {
        view_data view;
        build_render_camera_view(&view, &camera, &options, buffer);
        // The frame follows the ticks run: local projectiles catch up on them.
        view.game_ticks_elapsed = (int32_t)ticks;
        render_camera_view(&view);
        ok = render_back_buffer_to_rgb(buffer, &rgb);
        free(buffer);
    }
    stop_simulation();
    if (!ok)
    {
        fprintf(stderr, "vesk_render: the frame could not be drawn or read back\n");
        close_log_file();
        return 1;
    }
    const bool written = write_rgb_png(out_path.c_str(), rgb.data(), options.width, options.height, reason,
                                       sizeof(reason));
    close_log_file();
    if (!written)
    {
        fprintf(stderr, "vesk_render: %s\n", reason);
        return 1;
    }
    return 0;
}
