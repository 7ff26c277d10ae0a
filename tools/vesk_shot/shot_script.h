#pragma once
// The scripted input of the frame tool: what the pointer and the keyboard do
// at which frame, read from a small text file.  Each event reaches the game
// as the window system's event would, through its input layer.
//
//   # comment
//   FRAME press X Y       the pointer goes to (X, Y), screen pixels, and the left button goes down
//   FRAME release X Y     the pointer goes to (X, Y) and the left button comes up
//   FRAME move X Y        the pointer goes to (X, Y); the button stays as it is
//   FRAME key CODE        a key pressed and let go: its internal key code (0-99)
//   FRAME down CODE       a key pressed and held ...
//   FRAME up CODE         ... until it is let go
//
// Frames count from 0 and must not go down from one line to the next.  While
// shift, control or the command key is held, later key events carry it.

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
};

struct shot_event
{
    int32_t frame;
    int16_t kind; // shot_event_kind
    int16_t x, y; // press, release and move
    int16_t key_code; // key, down and up
};

// Reads the script at `path`.  False with a one-line reason (naming the line)
// for a file that cannot be read or a line that is refused; `events` is then
// left empty.
bool read_shot_script(const char *path, std::vector<shot_event> *events, char *reason, size_t reason_size);

// The same from text in memory (`name` labels the reasons).
bool parse_shot_script(const char *text, const char *name, std::vector<shot_event> *events, char *reason,
                       size_t reason_size);
