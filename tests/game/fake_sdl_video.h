#pragma once
// A fake of the SDL video calls the screen makes: a desktop of a chosen size,
// a chosen full-screen mode list (or "any size"), video modes that succeed or
// fail on demand, and a record of every presented rectangle, toggle, caption
// and icon.  Surfaces are plain memory with the masks SDL would give.

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "screen.h"
#include "screen_sdl.h"

namespace fake_sdl {

struct mode_call
{
    int width, height, depth;
    Uint32 flags;
};

struct state
{
    int desktop_width = 1024, desktop_height = 768;
    bool any_size = false;
    std::vector<SDL_Rect> modes; // largest first
    int failing_video_modes = 0; // this many set_video_mode calls fail first
    bool fail_all_video_modes = false;
    bool fail_init = false;

    std::vector<mode_call> mode_calls;
    std::vector<SDL_Rect> updates;
    int toggles = 0;
    SDL_GrabMode grab = SDL_GRAB_OFF;
    int locks = 0, unlocks = 0;
    std::string caption;
    bool icon_set = false;
    int x11_calls = 0;
    point2d window_corner = {-1, -1}; // where the window was last placed
    Uint32 extra_surface_flags = 0; // e.g. SDL_HWSURFACE, to make the screen lock
    std::vector<std::pair<SDL_GLattr, int>> gl_attributes; // in the order set
    int gl_swaps = 0;

    // Owned storage.
    SDL_VideoInfo info = {};
    std::vector<SDL_Rect *> mode_pointers;
    std::vector<SDL_Surface *> surfaces;
    std::vector<SDL_PixelFormat *> formats;
};

inline state &current(void)
{
    static state the_state;
    return the_state;
}

inline SDL_Surface *new_surface(int width, int height, int depth, Uint32 flags)
{
    state &s = current();
    SDL_PixelFormat *format = (SDL_PixelFormat *)calloc(1, sizeof(SDL_PixelFormat));
    format->BitsPerPixel = (Uint8)depth;
    format->BytesPerPixel = (Uint8)(depth / 8);
    if (depth == 16)
    {
        format->Rmask = 0xF800, format->Gmask = 0x7E0, format->Bmask = 0x1F;
    }
    else
    {
        format->Rmask = 0xFF0000, format->Gmask = 0xFF00, format->Bmask = 0xFF;
    }
    SDL_Surface *surface = (SDL_Surface *)calloc(1, sizeof(SDL_Surface));
    surface->flags = flags;
    surface->format = format;
    surface->w = width;
    surface->h = height;
    // A pitch wider than the row, as real surfaces may have.
    surface->pitch = (Uint16)(width * (depth / 8) + 64);
    surface->pixels = calloc((size_t)surface->pitch * (size_t)height, 1);
    s.surfaces.push_back(surface);
    s.formats.push_back(format);
    return surface;
}

inline int init(Uint32) { return current().fail_init ? -1 : 0; }
inline void quit(void) {}
inline char *get_error(void) { return (char *)"fake failure"; }
inline const SDL_VideoInfo *get_video_info(void)
{
    state &s = current();
    s.info.current_w = s.desktop_width;
    s.info.current_h = s.desktop_height;
    return &s.info;
}
inline SDL_Rect **list_modes(SDL_PixelFormat *, Uint32)
{
    state &s = current();
    if (s.any_size) return (SDL_Rect **)-1;
    if (s.modes.empty()) return nullptr;
    s.mode_pointers.clear();
    for (SDL_Rect &rect : s.modes) s.mode_pointers.push_back(&rect);
    s.mode_pointers.push_back(nullptr);
    return s.mode_pointers.data();
}
inline SDL_Surface *set_video_mode(int width, int height, int depth, Uint32 flags)
{
    state &s = current();
    s.mode_calls.push_back({width, height, depth, flags});
    if (s.fail_all_video_modes) return nullptr;
    if (s.failing_video_modes > 0)
    {
        --s.failing_video_modes;
        return nullptr;
    }
    return new_surface(width, height, depth, flags | s.extra_surface_flags);
}
inline SDL_Surface *create_rgb_surface(Uint32 flags, int width, int height, int depth, Uint32, Uint32, Uint32, Uint32)
{
    return new_surface(width, height, depth, flags);
}
inline void free_surface(SDL_Surface *) {} // freed with the fake's state
inline int lock_surface(SDL_Surface *)
{
    ++current().locks;
    return 0;
}
inline void unlock_surface(SDL_Surface *) { ++current().unlocks; }
inline void update_rect(SDL_Surface *, Sint32 x, Sint32 y, Uint32 width, Uint32 height)
{
    current().updates.push_back({(Sint16)x, (Sint16)y, (Uint16)width, (Uint16)height});
}
inline void wm_set_icon(SDL_Surface *, Uint8 *) { current().icon_set = true; }
inline void wm_set_caption(const char *title, const char *) { current().caption = title ? title : ""; }
inline int wm_toggle_fullscreen(SDL_Surface *surface)
{
    ++current().toggles;
    surface->flags ^= SDL_FULLSCREEN;
    return 1;
}
inline SDL_GrabMode wm_grab_input(SDL_GrabMode mode)
{
    return mode == SDL_GRAB_QUERY ? current().grab : (current().grab = mode);
}
inline bool set_x11_window_properties(const long *, int32_t)
{
    ++current().x11_calls;
    return false;
}

inline bool place_x11_window(int32_t x, int32_t y)
{
    current().window_corner = {(int16_t)x, (int16_t)y};
    return false;
}

inline int gl_set_attribute(SDL_GLattr attribute, int value)
{
    current().gl_attributes.push_back({attribute, value});
    return 0;
}
inline void gl_swap_buffers(void) { ++current().gl_swaps; }

inline const sdl_video_procedures procedures = {
    init,          quit,           get_error,       get_video_info,        list_modes,   set_video_mode,
    create_rgb_surface, free_surface, lock_surface, unlock_surface,       update_rect,  wm_set_icon,
    wm_set_caption, wm_toggle_fullscreen, wm_grab_input, set_x11_window_properties, place_x11_window,
    gl_set_attribute, gl_swap_buffers,
};

// Forgets every surface and call and puts the fake in place of SDL.
inline void install(void)
{
    state &s = current();
    for (SDL_Surface *surface : s.surfaces)
    {
        free(surface->pixels);
        free(surface);
    }
    for (SDL_PixelFormat *format : s.formats) free(format);
    s = state();
    set_sdl_video_procedures(&procedures);
    reset_screen_sdl();
}

// Frees the fake's surfaces and puts the real SDL calls back.
inline void uninstall(void)
{
    reset_screen_sdl();
    set_sdl_video_procedures(nullptr);
    state &s = current();
    for (SDL_Surface *surface : s.surfaces)
    {
        free(surface->pixels);
        free(surface);
    }
    for (SDL_PixelFormat *format : s.formats) free(format);
    s = state();
}

} // namespace fake_sdl
