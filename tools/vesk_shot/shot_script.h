#pragma once
// The scripted input of the frame tool: what the pointer and the keyboard do
// at which frame, read from a small text file.
//
//   # comment
//   FRAME press X Y       the left button goes down at (X, Y), screen pixels
//   FRAME release X Y     the left button comes up at (X, Y)
//   FRAME key CODE [ASCII]  a key press: its internal key code (0-99) and
//                          character (-1 or left out: none)
//
// Frames count from 0 and must not go down from one line to the next.

#include <cstddef>
#include <cstdint>
#include <vector>

enum shot_event_kind
{
    _shot_press = 0,
    _shot_release,
    _shot_key,
};

struct shot_event
{
    int32_t frame;
    int16_t kind; // shot_event_kind
    int16_t x, y; // press and release
    int16_t key_code, ascii_code; // key
};

// Reads the script at `path`.  False with a one-line reason (naming the line)
// for a file that cannot be read or a line that is refused; `events` is then
// left empty.
bool read_shot_script(const char *path, std::vector<shot_event> *events, char *reason, size_t reason_size);

// The same from text in memory (`name` labels the reasons).
bool parse_shot_script(const char *text, const char *name, std::vector<shot_event> *events, char *reason,
                       size_t reason_size);
