#pragma once
// The scripted input of the frame tool: what the pointer and the keyboard do
// at which frame, read from a small text file.  Each event reaches the game
// as the window system's event would, through its input layer.
//
//   # comment
//   FRAME press X Y       the pointer goes to (X, Y), screen pixels, and the left button goes down
//   FRAME release X Y     the pointer goes to (X, Y) and the left button comes up
//   FRAME right-press X Y, FRAME right-release X Y   the same with the right button
//   FRAME move X Y        the pointer goes to (X, Y); the buttons stay as they are
//   FRAME key KEY         a key pressed and let go
//   FRAME down KEY        a key pressed and held ...
//   FRAME up KEY          ... until it is let go
//
// KEY is a key's name (any case; shot_key_name lists them: Escape, Return,
// Space, A-Z, Digit0-Digit9, F1-F15, Up, Left, Keypad5, ...) or its internal
// key code (0-99).  Frames count from 0 and must not go down from one line to
// the next.  While Shift, Ctrl or Alt is held, later key events carry it.

#include <cstddef>
#include <cstdint>
#include <vector>

enum shot_event_kind
{
    _shot_press = 0,
    _shot_release,
    _shot_key,
    _shot_move,
    _shot_key_down,
    _shot_key_up,
    _shot_right_press,
    _shot_right_release,
};

struct shot_event
{
    int32_t frame;
    int16_t kind; // shot_event_kind
    int16_t x, y; // presses, releases and move
    int16_t key_code; // key, down and up
};

// The script's name of internal key code `code` (0-99), or null for a code
// outside them.  Each key has one name, and no two keys share one.
const char *shot_key_name(int32_t code);
// The internal key code a script's KEY names (a name in any case, or a code
// 0-99); NONE for anything else.
int32_t shot_key_code(const char *word);

// Reads the script at `path`.  False with a one-line reason (naming the line)
// for a file that cannot be read or a line that is refused; `events` is then
// left empty.
bool read_shot_script(const char *path, std::vector<shot_event> *events, char *reason, size_t reason_size);

// The same from text in memory (`name` labels the reasons).
bool parse_shot_script(const char *text, const char *name, std::vector<shot_event> *events, char *reason,
                       size_t reason_size);
