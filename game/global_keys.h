#pragma once
// The global keys: what a key does wherever the player is, before any dialog
// sees the action and whether or not the world is shown.  One consumer of
// process_action (the core's "global keys" slot) handles them all:
//
// - the pause key (Escape in both factory sets; a rebindable control):
//   presses the status bar's pause button when there is a bar, so the key
//   and the button are one switch; without a bar it pauses or resumes the
//   game itself.  Pausing stops the game clock only (game_time.h): no tick
//   runs, nothing synchronized is written.
// - the chat key (Up arrow): shows or hides the console's backlog.
// - minus and equals: the game speed one step down or up, in films and
//   single-player games (a network game keeps normal speed); the new speed
//   is shown on the console's popup line.
// - F2: the frame-rate read-out on or off.
// - F5: hides both bars, or shows them again (F3 and F4 are the sound
//   volume keys).
// - F6: automatic camera tracking on or off (not while a script flies the
//   camera, nor while the camera is taken from the player).
// - Alt+Tab in a film, or for an observer of a network game: the overhead
//   map's colours switch between friend-or-foe and team colours (Tab alone
//   opens and closes the map, in the overhead map's own consumer).
// - Ctrl+G: grabs or releases the pointer and the keyboard.
//
// Keys act on key-press records only, never on a held key's repeats, so a
// key held down switches once.  While the player types (a dialog's text
// field has the focus, or the chat line takes keys) only Ctrl+G acts: the
// keys are the typing's.  No global key uses the action: the dialogs
// and the world still get it.  Main thread only.

#include <cstdint>

struct action_data;

// The consumer: acts on the global keys in `action` and returns false (the
// action goes on to the dialogs and the world).
bool handle_global_keys(action_data *action);

// The popup text of a game speed index ("1x", "1/2x", "3x", ...); "" out of range.
const char *game_speed_name(int16_t speed_index);

// Fills the core's global-keys consumer slot.
void register_global_key_hooks(void);
