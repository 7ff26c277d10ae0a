// SDL video.  See screen_sdl.h.

#include "screen_sdl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <signal.h>

#include <SDL_syswm.h>

#include "bitmaps.h"
#include "cseries/errors.h"
#include "cseries/log.h"
#include "input/input_controller_sdl.h"
#include "platform_events.h"
#include "screen.h"
#include "screen_preferences.h"
#include "screen_setup.h"

enum
{
    SDL_INIT_FLAGS = SDL_INIT_VIDEO | SDL_INIT_NOPARACHUTE, // 0x100020
    // Surfaces SDL wants locked before their pixels are touched.
    SURFACE_LOCK_FLAGS = SDL_HWSURFACE | SDL_ASYNCBLIT | SDL_RLEACCEL, // 0x4005
};

// SDL's video layer (and the session bus it asks about the screen saver)
// keeps a few blocks of its own past SDL_Quit.  A program built with the leak
// checker leaves them out of its report; nothing of the screen's own is.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SCREEN_LEAK_CHECKED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(SCREEN_LEAK_CHECKED)
extern "C" const char *__lsan_default_suppressions(void) { return "leak:libSDL2\nleak:libdbus-1\n"; }
#endif

static struct screen_globals
{
    const sdl_video_procedures *sdl;
    SDL_Surface *icon;
    SDL_Surface *screen;
    bool main_menu_fullscreen;
    int16_t desktop_width, desktop_height;
    bool initialized;
    bool surface_locked; // between a lend and its release
    bool exit_handler_registered;
    bool display_lost; // the X server closed the connection: nothing more may be asked of it
} screen_globals;

// ---- the real SDL calls ------------------------------------------------------

// The code of the X error a property change caused, caught instead of
// Xlib's default handler, which would end the program.
static int x11_property_error;

static int note_x11_property_error(Display *display, XErrorEvent *error)
{
    (void)display;
    x11_property_error = error->error_code;
    return 0;
}

// The X11 display and the window the window manager sees (the frame SDL
// made, else its own); false when the window is not an X11 one.
static bool get_x11_window(SDL_SysWMinfo *info, Display **display, Window *window)
{
    memset(info, 0, sizeof(*info));
    info->version.major = 1;
    info->version.minor = 2;
    info->version.patch = 14;
    if (SDL_GetWMInfo(info) != 1 || info->subsystem != SDL_SYSWM_X11) return false;
    *display = info->info.x11.display;
    *window = info->info.x11.wmwindow ? info->info.x11.wmwindow : info->info.x11.window;
    return *display && *window;
}

static bool real_set_x11_window_properties(const long *icon_property, int32_t icon_property_count)
{
    SDL_SysWMinfo info;
    Display *display = nullptr;
    Window window = 0;
    if (!get_x11_window(&info, &display, &window)) return false;
    if (info.info.x11.lock_func) info.info.x11.lock_func();
    XSync(display, False); // errors of earlier requests are not ours
    x11_property_error = 0;
    int (*previous_handler)(Display *, XErrorEvent *) = XSetErrorHandler(note_x11_property_error);
    const char *desktop_file = getenv("GIO_LAUNCHED_DESKTOP_FILE");
    if (desktop_file)
    {
        const Atom atom = XInternAtom(display, "_NET_WM_DESKTOP_FILE", True);
        if (atom != None)
            XChangeProperty(display, window, atom, XA_STRING, 8, PropModeReplace, (const unsigned char *)desktop_file,
                            (int)strlen(desktop_file) + 1);
    }
    const Atom icon = XInternAtom(display, "_NET_WM_ICON", True);
    if (icon != None)
        XChangeProperty(display, window, icon, XA_CARDINAL, 32, PropModeReplace, (const unsigned char *)icon_property,
                        icon_property_count);
    XSync(display, False);
    XSetErrorHandler(previous_handler);
    if (info.info.x11.unlock_func) info.info.x11.unlock_func();
    if (x11_property_error)
        log_message(__FILE__, __LINE__, "the window's properties were refused (X error %d)", x11_property_error);
    return x11_property_error == 0;
}

// SDL asks the window manager for full screen and leaves the window where
// the last mode had it; on a desktop without a window manager nobody moves
// it, so a window that grows keeps its old corner and hangs off the screen.
static bool real_place_x11_window(int32_t x, int32_t y)
{
    SDL_SysWMinfo info;
    Display *display = nullptr;
    Window window = 0;
    if (!get_x11_window(&info, &display, &window)) return false;
    if (info.info.x11.lock_func) info.info.x11.lock_func();
    XMoveWindow(display, window, x, y);
    XSync(display, False);
    if (info.info.x11.unlock_func) info.info.x11.unlock_func();
    return true;
}

static const sdl_video_procedures real_procedures = {
    SDL_Init,           SDL_Quit,
    SDL_GetError,       SDL_GetVideoInfo,
    SDL_ListModes,      SDL_SetVideoMode,
    SDL_CreateRGBSurface, SDL_FreeSurface,
    SDL_LockSurface,    SDL_UnlockSurface,
    SDL_UpdateRect,     SDL_WM_SetIcon,
    SDL_WM_SetCaption,  SDL_WM_ToggleFullScreen, SDL_WM_GrabInput,
    real_set_x11_window_properties, real_place_x11_window,
    SDL_GL_SetAttribute, SDL_GL_SwapBuffers,
};

const sdl_video_procedures *real_sdl_video_procedures(void) { return &real_procedures; }

static const sdl_video_procedures *sdl(void)
{
    return screen_globals.sdl ? screen_globals.sdl : &real_procedures;
}

const sdl_video_procedures *set_sdl_video_procedures(const sdl_video_procedures *procedures)
{
    const sdl_video_procedures *previous = sdl();
    screen_globals.sdl = procedures;
    return previous;
}

void reset_screen_sdl(void)
{
    const sdl_video_procedures *procedures = screen_globals.sdl;
    const bool exit_handler_registered = screen_globals.exit_handler_registered;
    if (screen_globals.icon) sdl()->free_surface(screen_globals.icon);
    memset(&screen_globals, 0, sizeof(screen_globals));
    screen_globals.sdl = procedures;
    screen_globals.exit_handler_registered = exit_handler_registered;
}

// ---- the icon ----------------------------------------------------------------

// A round shield in deep blue with a gold rim and a gold chevron, on a
// transparent ground.
static void draw_icon(uint8_t *pixels)
{
    const int32_t size = SCREEN_ICON_SIZE, centre = size / 2;
    for (int32_t y = 0; y < size; ++y)
        for (int32_t x = 0; x < size; ++x)
        {
            uint8_t *p = pixels + 4 * (y * size + x);
            const int32_t dx = 2 * x + 1 - size, dy = 2 * y + 1 - size; // doubled offsets from the centre
            const int32_t d2 = dx * dx + dy * dy, r = size - 4; // doubled radius
            p[0] = p[1] = p[2] = p[3] = 0;
            if (d2 > r * r) continue;
            const bool rim = d2 > (r - 14) * (r - 14);
            // The chevron: two bands falling to a point below the centre.
            const int32_t ax = abs(x - centre), band = y - (centre - 30) - ax;
            const bool chevron = ax < 40 && band >= 0 && band < 18;
            if (rim || chevron)
            {
                p[0] = 236, p[1] = 184, p[2] = 56;
            }
            else
            {
                const int32_t shade = 40 + (size - y) / 3;
                p[0] = 16, p[1] = (uint8_t)(24 + shade / 3), p[2] = (uint8_t)(80 + shade);
            }
            p[3] = 255;
        }
}

const uint8_t *screen_icon_pixels(void)
{
    static uint8_t pixels[SCREEN_ICON_SIZE * SCREEN_ICON_SIZE * 4];
    static bool drawn = false;
    if (!drawn)
    {
        draw_icon(pixels);
        drawn = true;
    }
    return pixels;
}

void build_icon_property(long *property)
{
    const uint8_t *pixels = screen_icon_pixels();
    property[0] = SCREEN_ICON_SIZE;
    property[1] = SCREEN_ICON_SIZE;
    for (int32_t i = 0; i < SCREEN_ICON_SIZE * SCREEN_ICON_SIZE; ++i)
    {
        // RGBA bytes become 0xAARRGGBB (BGRA in memory on a little-endian machine).
        const uint8_t *p = pixels + 4 * i;
        property[2 + i] = (long)(((uint32_t)p[3] << 24) | ((uint32_t)p[0] << 16) | ((uint32_t)p[1] << 8) | p[2]);
    }
}

static void create_icon_surface(void)
{
    if (screen_globals.icon) return;
    SDL_Surface *icon = sdl()->create_rgb_surface(SDL_SWSURFACE, SCREEN_ICON_SIZE, SCREEN_ICON_SIZE, 32, 0xFF, 0xFF00,
                                                  0xFF0000, 0xFF000000u);
    if (!icon)
    {
        log_message(__FILE__, __LINE__, "the window icon could not be made: %s", sdl()->get_error());
        return;
    }
    const uint8_t *pixels = screen_icon_pixels();
    for (int32_t y = 0; y < SCREEN_ICON_SIZE; ++y)
        memcpy((uint8_t *)icon->pixels + y * icon->pitch, pixels + y * SCREEN_ICON_SIZE * 4, SCREEN_ICON_SIZE * 4);
    screen_globals.icon = icon;
}

// ---- start-up --------------------------------------------------------------------

// The X server went away under the program (the session ended, the server was
// killed).  Xlib ends the program from inside the call that failed whatever
// this returns; the exit handlers then stop the film as for any exit, but SDL
// must not be asked to close a window on the dead connection: it waits on it
// for ever, a processor busy, the film never closed.
static int end_on_lost_display(Display *display)
{
    (void)display;
    screen_globals.display_lost = true;
    fprintf(stderr, "The display's X server closed its connection: the program ends.\n");
    log_message(__FILE__, __LINE__, "the display's X server closed its connection: the program ends");
    exit(1);
}

// A write to a server already gone raises SIGPIPE, which would end the
// program at once and silently, its film never closed: with this handler the
// write fails instead, and Xlib calls end_on_lost_display.  (A handler, not
// SIG_IGN: a program the game starts gets the default back when it starts.)
static void let_a_broken_pipe_fail_the_write(int signal_number) { (void)signal_number; }

void init_sdl(void)
{
    if (screen_globals.initialized) return;
    setenv("SDL_VIDEO_WINDOW_POS", "center", 1);
    setenv("SDL_VIDEO_CENTERED", "1", 1);
    // The game sets no gamma ramp: a DirectColor visual would only leave the
    // window's colours to whatever colour map the X server holds, so the
    // window asks for TrueColor (unless the player's environment says otherwise).
    setenv("SDL_VIDEO_X11_NODIRECTCOLOR", "1", 0);
    if (sdl()->init(SDL_INIT_FLAGS) < 0)
    {
        const char *error = sdl()->get_error();
        printf("Error: Couldn't initialize SDL: %s\n", error);
        fflush(stdout);
        log_message(__FILE__, __LINE__, "Couldn't initialize SDL: %s", error);
        exit(1);
    }
    if (sdl() == &real_procedures)
    {
        XSetIOErrorHandler(end_on_lost_display);
        struct sigaction broken_pipe = {};
        broken_pipe.sa_handler = let_a_broken_pipe_fail_the_write;
        sigemptyset(&broken_pipe.sa_mask);
        broken_pipe.sa_flags = SA_RESTART;
        sigaction(SIGPIPE, &broken_pipe, nullptr);
    }
    screen_globals.initialized = true;
    const SDL_VideoInfo *info = sdl()->get_video_info();
    screen_globals.desktop_width = info ? (int16_t)info->current_w : 0;
    screen_globals.desktop_height = info ? (int16_t)info->current_h : 0;
}

void get_true_screen_dimensions(int16_t *width, int16_t *height)
{
    init_sdl();
    *width = screen_globals.desktop_width;
    *height = screen_globals.desktop_height;
}

static void restore_world_device_at_exit(void) { restore_world_device(); }

void initialize_drawing_manager(void)
{
    init_sdl();
    create_icon_surface();
    if (!screen_globals.exit_handler_registered)
    {
        atexit(restore_world_device_at_exit);
        screen_globals.exit_handler_registered = true;
    }
    query_for_screen_devices();
}

int32_t list_fullscreen_modes(bool opengl, point2d *sizes, int32_t maximum)
{
    SDL_Rect **modes = sdl()->list_modes(nullptr, SDL_FULLSCREEN | (opengl ? SDL_OPENGL : 0));
    if (!modes) return 0;
    if (modes == (SDL_Rect **)-1) return NONE;
    int32_t count = 0;
    for (; modes[count] && count < maximum; ++count)
    {
        sizes[count].x = (int16_t)(modes[count]->w > INT16_MAX ? INT16_MAX : modes[count]->w);
        sizes[count].y = (int16_t)(modes[count]->h > INT16_MAX ? INT16_MAX : modes[count]->h);
    }
    return count;
}

// ---- modes -------------------------------------------------------------------

bool mode_opens_in_window(int32_t width, int32_t height, bool in_game, bool windowed_preference)
{
    return width < screen_globals.desktop_width && height < screen_globals.desktop_height &&
           (!in_game || windowed_preference);
}

static bool windowed_preference(void)
{
    return active_screen.prefs && (active_screen.prefs->flags & _screen_pref_windowed_flag);
}

// Full screen covers the desktop from its corner; a window is centred on
// the desktop (as the start-up's SDL_VIDEO_CENTERED asks of every mode), and
// a window larger than the desktop starts at its corner.
static void place_window(int32_t width, int32_t height, bool windowed)
{
    if (!sdl()->place_x11_window) return;
    int32_t x = 0, y = 0;
    if (windowed)
    {
        x = (screen_globals.desktop_width - width) / 2;
        y = (screen_globals.desktop_height - height) / 2;
        if (x < 0) x = 0;
        if (y < 0) y = 0;
    }
    sdl()->place_x11_window(x, y);
}

static void set_window_properties(void)
{
    sdl()->wm_set_caption(SCREEN_WINDOW_CAPTION, nullptr);
    static long icon_property[SCREEN_ICON_PROPERTY_COUNT];
    build_icon_property(icon_property);
    sdl()->set_x11_window_properties(icon_property, SCREEN_ICON_PROPERTY_COUNT);
}

// Full screen keeps the pointer; a window has the player's choice, not the
// grab of a full-screen game it may come back from: that grab would hold the
// pointer in a menu's window, and no other window of the desktop could be
// clicked.
static void grab_pointer_for(bool windowed)
{
    sdl()->wm_grab_input(!windowed || get_sdl_grab_mode() ? SDL_GRAB_ON : SDL_GRAB_OFF);
}

// Sets the video mode the window rules choose and keeps the surface; null on failure.
static SDL_Surface *open_video_mode(int32_t width, int32_t height, int32_t depth, uint32_t flags, bool windowed)
{
    if (!windowed) flags |= SDL_FULLSCREEN;
    if (screen_globals.icon) sdl()->wm_set_icon(screen_globals.icon, nullptr);
    SDL_Surface *surface = sdl()->set_video_mode(width, height, depth, flags);
    // A window is opened twice: the second call places it where the first could not.
    if (surface && windowed) surface = sdl()->set_video_mode(width, height, depth, flags);
    screen_globals.surface_locked = false;
    if (!surface)
    {
        screen_globals.screen = nullptr;
        log_message(__FILE__, __LINE__, "SDL_SetVideoMode() failed: %s", sdl()->get_error());
        return nullptr;
    }
    grab_pointer_for(windowed);
    set_window_properties();
    screen_globals.screen = surface;
    place_window(width, height, windowed);
    return surface;
}

bool allocate_drawing_buffers(int16_t device_index, int16_t mode_index, bool change_screen)
{
    (void)change_screen;
    if (active_screen.rasterizer_code != _rasterizer_software) return true; // the back end opens its window
    set_active_screen(device_index, mode_index);
    const bool windowed = mode_opens_in_window(active_screen.width, active_screen.height, active_screen.in_game != 0,
                                               windowed_preference());
    if (!open_video_mode(active_screen.width, active_screen.height, active_screen.bit_depth, 0, windowed))
        return false;
    const int16_t encoding = screen_surface_encoding();
    if (encoding != NONE) active_screen.encoding = encoding;
    if (device_index == NONE && mode_index == NONE && screen_globals.main_menu_fullscreen) set_sdl_windowed_mode(false);
    return true;
}

void dispose_drawing_buffers(void) {}

bool set_sdl_gl_attribute(SDL_GLattr attribute, int32_t value) { return sdl()->gl_set_attribute(attribute, value) == 0; }

void swap_sdl_gl_buffers(void) { sdl()->gl_swap_buffers(); }

bool create_sdl_window(int32_t width, int32_t height, int32_t depth, uint32_t flags)
{
    const bool windowed = mode_opens_in_window(width, height, active_screen.in_game != 0, windowed_preference());
    return open_video_mode(width, height, depth, flags, windowed) != nullptr;
}

bool open_fallback_video_mode(void)
{
    return open_video_mode(640, 480, DESIRED_BIT_DEPTH, 0, true) != nullptr;
}

bool screen_surface_exists(void) { return screen_globals.screen != nullptr; }

bool is_windowed_now(void)
{
    return !screen_globals.screen || !(screen_globals.screen->flags & SDL_FULLSCREEN);
}

void toggle_windowed_mode(bool update_prefs)
{
    (void)update_prefs;
    if (!screen_globals.screen) return;
    sdl()->wm_toggle_fullscreen(screen_globals.screen);
    grab_pointer_for(is_windowed_now());
    if (active_screen.in_game == 0) screen_globals.main_menu_fullscreen = !is_windowed_now();
    place_window(screen_globals.screen->w, screen_globals.screen->h, is_windowed_now());
}

void set_sdl_windowed_mode(bool windowed)
{
    if (screen_globals.screen && is_windowed_now() != windowed) toggle_windowed_mode(false);
}

void restore_world_device(void)
{
    if (!screen_globals.initialized) return;
    if (screen_globals.display_lost)
    {
        screen_globals.screen = nullptr;
        screen_globals.initialized = false;
        return;
    }
    if (screen_globals.screen && !is_windowed_now()) sdl()->wm_toggle_fullscreen(screen_globals.screen);
    if (sdl() == &real_procedures) release_hidden_cursor();
    screen_globals.screen = nullptr;
    if (screen_globals.icon) sdl()->free_surface(screen_globals.icon);
    screen_globals.icon = nullptr;
    sdl()->quit();
    screen_globals.initialized = false;
}

int16_t screen_surface_encoding(void)
{
    const SDL_Surface *surface = screen_globals.screen;
    if (!surface || !surface->format) return NONE;
    switch (surface->format->BitsPerPixel)
    {
    case 16:
        if (surface->format->Gmask == 0x7E0) return _16bit_565_encoding;
        if (surface->format->Gmask == 0x3E0) return _16bit_555_encoding;
        return NONE;
    case 32: return _32bit_encoding;
    default: return NONE;
    }
}

// ---- the back buffer -----------------------------------------------------------

static bool surface_needs_lock(const SDL_Surface *surface)
{
    return surface->offset != 0 || (surface->flags & SURFACE_LOCK_FLAGS) != 0;
}

// The rectangle within the surface (and the lent header's rows); false when
// nothing of it lies inside.
static bool clamp_to_surface(const rectangle2d *in, rectangle2d *out)
{
    const SDL_Surface *surface = screen_globals.screen;
    int32_t width = surface->w, height = surface->h;
    if (active_screen.height > 0 && height > active_screen.height) height = active_screen.height;
    rectangle2d r = *in;
    if (r.left < 0) r.left = 0;
    if (r.top < 0) r.top = 0;
    if (r.right > width) r.right = (int16_t)width;
    if (r.bottom > height) r.bottom = (int16_t)height;
    *out = r;
    return r.left < r.right && r.top < r.bottom;
}

bitmap_data *initialize_offscreen_bitmap(const rectangle2d *bounds)
{
    SDL_Surface *surface = screen_globals.screen;
    if (!surface || !active_screen.offscreen_pixels_structure) return nullptr;
    rectangle2d clamped;
    if (!clamp_to_surface(bounds, &clamped))
    {
        clamped.left = clamped.top = 0;
        clamped.right = clamped.bottom = 0;
    }
    if (surface_needs_lock(surface))
    {
        if (sdl()->lock_surface(surface) < 0)
        {
            log_message(__FILE__, __LINE__, "the screen could not be locked: %s", sdl()->get_error());
            return nullptr;
        }
        screen_globals.surface_locked = true;
    }
    return initialize_offscreen_bitmap_with_data(&clamped, surface->pixels, surface->pitch);
}

void release_offscreen_bitmap(bitmap_data *bitmap)
{
    (void)bitmap;
    SDL_Surface *surface = screen_globals.screen;
    if (surface && screen_globals.surface_locked) sdl()->unlock_surface(surface);
    screen_globals.surface_locked = false;
}

void copy_offscreen_world_to_screen(const rectangle2d *rectangle)
{
    SDL_Surface *surface = screen_globals.screen;
    if (!VASSERT(surface, "screen_globals.screen")) return;
    rectangle2d clamped;
    if (!clamp_to_surface(rectangle, &clamped)) return;
    sdl()->update_rect(surface, clamped.left, clamped.top, (Uint32)(clamped.right - clamped.left),
                       (Uint32)(clamped.bottom - clamped.top));
}

#undef SCREEN_LEAK_CHECKED
