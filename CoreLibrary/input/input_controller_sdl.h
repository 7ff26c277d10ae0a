#pragma once
// The keyboard and mouse as the window system reports them: which keys are
// down, the mouse buttons pressed and released, the pointer and the wheel.
// The event pump feeds every event to queue_input_event_if_necessary (main
// thread); the 30 Hz keyboard task reads the state on the timer thread.
//
// Threads: every value the two threads share is one atomic machine word.  The
// mouse button ring has one writer (the event pump) and one reader (the
// task); a full ring drops the new event.  The wheel accumulator is added to
// and taken whole atomically, so no notch is lost between the two.
//
// Only initialize_input_device and the grab mode call into SDL; everything
// else works on the records it is given, so tests feed hand-built events.

#include <cstdint>

#include "cseries/cseries.h"

union SDL_Event;
struct control_definition;

enum
{
    // Window-system key symbols below this have an entry in the reverse table.
    NUMBER_OF_SDL_KEY_SYMBOLS = 323,
    // Button events that may wait for the task; one slot stays free.
    MOUSE_BUTTON_RING_SIZE = 80,
    // What one wheel notch adds to the accumulator (up) or takes from it (down).
    MOUSE_WHEEL_NOTCH = 40,
    // The reverse table's "no internal key".
    NO_INTERNAL_KEY_CODE = 0xFFFF,
};

enum mouse_wheel_axis
{
    _mouse_wheel_axis_x = 0, // no horizontal wheel on this platform: always 0
    _mouse_wheel_axis_y = 2,
};

// Start-up: key repeat after 500 ms every 30 ms, no key down, the button ring
// empty, no button held, the wheel at rest.  Always true.
bool initialize_input_device(void);

// Nothing is held by this platform's devices.
void release_input_devices(void);

// One window-system event (the event pump's "input" consumer): keys, mouse
// buttons, motion, the wheel, and closing the window, which counts as an
// Escape press.  Keys without an internal code, and other events, are
// ignored.  Main thread.
void queue_input_event_if_necessary(const SDL_Event *event);

// The task's tick: the oldest waiting button event, if any, becomes the button
// state of this tick, so a press and its release are seen in different ticks.
void refresh_device_states(void);

// Whether the control is held now: keyboard codes 0..99 by the key state,
// mouse codes left, right and middle by this tick's button state.  False for
// any other device or code (a negative code included).
bool test_control_definition(const control_definition *control);

// The pointer in physical window pixels, from the latest motion or button
// event.  Always true.
bool get_mouse_position(int16_t *x, int16_t *y);
void set_mouse_position(int16_t x, int16_t y);

// Takes the wheel movement since the last call: for the y axis minus the
// accumulator (-40 per notch up), which is then at rest; 0 for any other axis.
void get_mouse_wheel_delta_for_axis(int16_t axis, int32_t *delta);

// Smooth scrolling: nothing to read on this platform.
void get_smooth_scroll_deltas(void);

// The internal key code (0..99) of a window-system key symbol;
// NO_INTERNAL_KEY_CODE for a symbol outside 0..322 or without one.
int32_t internal_key_code_from_sdl_key(int32_t symbol);
// The window-system key symbol of internal code 0..99; NONE outside.
int32_t sdl_key_from_internal_key_code(int32_t code);

// The character of internal key `code` with the given modifiers; -1 for a key
// with none or a code outside 0..99.
int16_t ascii_equivalent_of_key(int32_t code, bool shift, bool option);
// Whether repeats of the key are ignored (Escape, Caps Lock, Return and the
// modifier keys).
bool key_repeats_ignored(int32_t code);

// The grab of pointer and keyboard.  get answers the mode the toggle chose;
// set passes a mode to the window system without changing it (the window
// calls it once made, cutscenes release the grab with it); toggle flips the
// mode and applies it (Ctrl+G).  Without a window nothing is applied.
bool get_sdl_grab_mode(void);
void set_sdl_grab_mode(bool mode);
void toggle_sdl_grab_mode(void);
