#pragma once
// The only module that calls SDL video: starting SDL, the mode list, opening
// and re-opening the video surface and its window, full screen, the window's
// icon, caption and X11 properties, locking and showing the back buffer.
//
// SDL is reached through one table of procedures (`sdl_video_procedures`),
// the real SDL 1.2 calls by default; the pure tests put a fake in its place.
//
// Main thread only.

#include <cstdint>

#include <SDL.h>

#include "point2d.h"

struct bitmap_data;

// The SDL calls the screen makes.  The fake of the tests gives every one.
struct sdl_video_procedures
{
    int (*init)(Uint32 flags);
    void (*quit)(void);
    char *(*get_error)(void);
    const SDL_VideoInfo *(*get_video_info)(void);
    SDL_Rect **(*list_modes)(SDL_PixelFormat *format, Uint32 flags);
    SDL_Surface *(*set_video_mode)(int width, int height, int bit_depth, Uint32 flags);
    SDL_Surface *(*create_rgb_surface)(Uint32 flags, int width, int height, int depth, Uint32 red_mask,
                                       Uint32 green_mask, Uint32 blue_mask, Uint32 alpha_mask);
    void (*free_surface)(SDL_Surface *surface);
    int (*lock_surface)(SDL_Surface *surface);
    void (*unlock_surface)(SDL_Surface *surface);
    void (*update_rect)(SDL_Surface *surface, Sint32 x, Sint32 y, Uint32 width, Uint32 height);
    void (*wm_set_icon)(SDL_Surface *icon, Uint8 *mask);
    void (*wm_set_caption)(const char *title, const char *icon);
    int (*wm_toggle_fullscreen)(SDL_Surface *surface);
    SDL_GrabMode (*wm_grab_input)(SDL_GrabMode mode);
    // Sets the X11 window properties; false when the window system is not X11.
    bool (*set_x11_window_properties)(const long *icon_property, int32_t icon_property_count);
    // Moves the window's top-left corner to (x, y) of the desktop; false when
    // the window system is not X11.
    bool (*place_x11_window)(int32_t x, int32_t y);
    // The OpenGL window: an attribute for the next video mode, and the buffer swap.
    int (*gl_set_attribute)(SDL_GLattr attribute, int value);
    void (*gl_swap_buffers)(void);
};

// The real SDL calls.
const sdl_video_procedures *real_sdl_video_procedures(void);
// Replaces the table (tests); returns the previous one.  Null restores the
// real calls.  Forget the screen state with reset_screen_sdl before the next
// use.
const sdl_video_procedures *set_sdl_video_procedures(const sdl_video_procedures *procedures);
// Forgets the surface, the icon and the desktop size, as before start-up
// (tests; the surface itself belongs to SDL).
void reset_screen_sdl(void);

enum
{
    SCREEN_ICON_SIZE = 128,
    SCREEN_ICON_PROPERTY_COUNT = 2 + SCREEN_ICON_SIZE * SCREEN_ICON_SIZE, // 16,386
};
#define SCREEN_WINDOW_CAPTION "VESK"

// Once only: SDL with video.  On failure prints and logs "Couldn't initialize
// SDL: ..." and exits with status 1.  Records the desktop size.
void init_sdl(void);
// init_sdl, the icon, the exit handler, the device table.
void initialize_drawing_manager(void);
// init_sdl, then the desktop size.
void get_true_screen_dimensions(int16_t *width, int16_t *height);

// The full-screen mode list for the device query: the sizes, largest first
// (at most `maximum`), or NONE for "any size"; 0 for none.
int32_t list_fullscreen_modes(bool opengl, point2d *sizes, int32_t maximum);

// Whether a mode of the size opens in a window on this desktop: smaller than
// the desktop in both directions, and no game running or the windowed
// preference set.
bool mode_opens_in_window(int32_t width, int32_t height, bool in_game, bool windowed_preference);

// Opens the software video mode of the active screen.  False when SDL refused
// the mode: the surface is then null and nothing draws through it.
bool allocate_drawing_buffers(int16_t device_index, int16_t mode_index, bool change_screen);
// The fallback when a mode cannot be opened: 640 x 480 x 32 in a window.
// False when even that fails.
bool open_fallback_video_mode(void);
// Nothing to free: SDL owns the surface.
void dispose_drawing_buffers(void);
// The same window rules for the OpenGL back end with its own SDL flags.
bool create_sdl_window(int32_t width, int32_t height, int32_t depth, uint32_t flags);

void toggle_windowed_mode(bool update_prefs);
void set_sdl_windowed_mode(bool windowed);
// The surface lacks SDL_FULLSCREEN (true without a surface).
bool is_windowed_now(void);
// Leaves full screen, then SDL_Quit (the exit handler).
void restore_world_device(void);

// An OpenGL attribute for the next video mode opened (SDL_GL_SetAttribute);
// false when SDL refuses it.
bool set_sdl_gl_attribute(SDL_GLattr attribute, int32_t value);
// Shows the OpenGL back buffer.
void swap_sdl_gl_buffers(void);

// True while a video surface is open.
bool screen_surface_exists(void);
// The pixel encoding the surface's masks give: 1 (555) or 2 (565) for 16
// bits, 3 for 32 bits, NONE for anything else or no surface.
int16_t screen_surface_encoding(void);

// The software back buffer: the surface (locked when SDL needs it) lent as a
// bitmap of the bounds, clamped to the surface.  Null without a surface.
bitmap_data *initialize_offscreen_bitmap(const rectangle2d *bounds);
void release_offscreen_bitmap(bitmap_data *bitmap);
// Shows the rectangle of the surface (clamped to it); nothing without a surface.
void copy_offscreen_world_to_screen(const rectangle2d *rectangle);

// The icon's 128 x 128 RGBA pixels, drawn by code (65,536 bytes).
const uint8_t *screen_icon_pixels(void);
// The _NET_WM_ICON data: 128, 128, then each pixel as 0xAARRGGBB, in `long`s
// as Xlib wants format-32 data.
void build_icon_property(long *property);
