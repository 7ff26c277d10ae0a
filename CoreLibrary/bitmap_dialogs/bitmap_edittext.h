#pragma once
// The edit-text engine: typing, selection and the caret.
//
// One record is a single-field editor over a fixed 256-byte buffer: the text,
// a selection that doubles as the caret (an empty selection is the caret),
// the keys that edit the text and move the caret, and the drawing of the text
// with the selection box, the blinking caret, a placeholder, password masking
// and optional wrapping.  It knows nothing of dialogs: the edit and password
// controls keep one record per item, and the console and the key-binding
// control use the same record and calls.  The only dialog fact it reads is
// the edit-text colour of the dialog colours, once, at creation.
//
// Text is styled text (bitmap_text.h): '|' escape pairs and, in the
// double-byte languages, two-byte characters are one character each for the
// caret, deletion and hit-testing; no edit ever leaves half of one.
//
// Every call checks the record: NULL or a record whose cookie is not 'edit'
// (disposed records read 'bad ') logs "Edit at 0x... is bad!" and the call
// returns at once with its neutral answer (false, 0) and touches nothing.
//
// Invariants kept by every call: 0 <= selection_start <= selection_end <=
// strlen(string) <= maximum_length <= MAXIMUM_EDITTEXT_LENGTH.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"
#include "input/action_queue.h" // action_data
#include "point2d.h"
#include "rgb_color.h"

struct bitmap_data;
struct dialog_data;

#define EDITTEXT_MAGIC_COOKIE FOUR_CHARACTER_CODE('e', 'd', 'i', 't')
#define EDITTEXT_DEAD_COOKIE FOUR_CHARACTER_CODE('b', 'a', 'd', ' ')

enum
{
    MAXIMUM_EDITTEXT_LENGTH = 255,
    EDITTEXT_BUFFER_SIZE = MAXIMUM_EDITTEXT_LENGTH + 1,
    // The byte every character of a password field is shown and hit-tested as.
    EDITTEXT_PASSWORD_CHARACTER = 165,
    // Draw-string flags at creation: centred vertically, with a shadow.
    DEFAULT_EDITTEXT_TEXT_FLAGS = 34,
    // The offset a hit test that finds nothing gives (clamped to the end).
    EDITTEXT_NO_CLICK_POINT = 32767,
};

// Edit flags (`edittext_data.flags`).
enum
{
    _no_cursor_movement_flag = 1,     // Home, End and the arrows are typed as characters
    _no_cursor_flag = 2,              // the caret is never drawn
    _cursor_is_visible_flag = 4,      // the blink phase: the caret is drawn only while set
    _edittext_is_password_flag = 8,   // every byte is shown and hit-tested as byte 165
    _no_shaded_background_flag = 16,  // no translucent background
    _draw_focus_box_flag = 32,        // the owning control frames the field while focused
    _edittext_is_number_only_flag = 64, // only '-' and '0'..'9' can be typed
    _allow_text_to_wrap_flag = 128,   // typing is not limited by the field's width
};

// What the current press means (`last_click_meant`).
enum
{
    _meant_nothing = 0,      // between presses
    _meant_focus = 1,        // the press only gave the field the focus
    _meant_place_cursor = 2, // the press placed the caret; a drag selects from the anchor
};

// Called by the owning control after every key it handled.
typedef void (*edittext_key_listener_proc)(dialog_data *dialog, int16_t item_id, action_data *action,
                                           void *context);

struct edittext_data
{
    uint32_t magic_cookie; // EDITTEXT_MAGIC_COOKIE while alive, EDITTEXT_DEAD_COOKIE after disposal
    char string[EDITTEXT_BUFFER_SIZE]; // always NUL-terminated
    const char *placeholder_string;    // shown faintly while the text is empty; not owned, may be NULL
    rgb_color color;                   // text and caret
    int32_t font;                      // font index
    int32_t text_flags;                // draw-string flags for drawing and wrapping
    int32_t flags;                     // edit flags
    int32_t maximum_length;            // 0..MAXIMUM_EDITTEXT_LENGTH bytes of text
    int16_t selection_start;           // the caret when the selection is empty
    int16_t selection_end;             // one past the last selected byte
    int16_t selection_click;           // the anchor: where the last press placed the caret
    rectangle2d bounds;                // the field, in its owner's coordinates
    int16_t last_click_meant;          // _meant_*
    intptr_t user_refcon;              // the owner's value (the edit control: the caret blink's origin)
    edittext_key_listener_proc key_listener; // NULL at creation
    void *key_listener_context;
};

// A zeroed record: cookie 'edit', the edit-text dialog colour, interface font
// 0, text flags 34, `flags`, maximum length 255, the caret at 0, `bounds`
// (NULL: an empty rectangle), nothing meant, no listener.  NULL when memory
// runs out.
edittext_data *new_edittext(const rectangle2d *bounds, int32_t flags);
// Marks the record dead ('bad ') and frees it.
void dispose_edittext(edittext_data *edit);

// Copies `text` (NULL reads as ""), keeping at most `maximum_length` bytes and
// never half of a two-byte character; the caret goes to 0.
void set_edittext_string(edittext_data *edit, const char *text);
// Copies the text into `buffer`, truncated to size - 1 bytes and terminated.
// Nothing at all when `buffer` is NULL or `size` is 0 or less.
void get_edittext_string(const edittext_data *edit, char *buffer, int32_t size);
// `length` outside 0..MAXIMUM_EDITTEXT_LENGTH is refused (logged
// "max_length>=0 && max_length<=MAXIMUM_EDITTEXT_LENGTH").  Otherwise it is
// stored and the text cut there (on a character boundary); the selection
// is clamped into the text.
void set_edittext_maximum_length(edittext_data *edit, int32_t length);

// Start clamped below at 0, end to the text's length; end < start makes start = end.
void select_edit_text_range(edittext_data *edit, int32_t start, int32_t end);
// The anchor becomes `offset` clamped to 0..length, and the selection that empty range.
void set_edit_text_select_click(edittext_data *edit, int32_t offset);
// Either out pointer may be NULL; 0 and 0 for a bad record.
void get_edit_text_selection_range(const edittext_data *edit, int16_t *start, int16_t *end);
int16_t get_edit_text_select_click(const edittext_data *edit);
// Removes the selected bytes (nothing for an empty selection); the caret
// stays at the old start.
void delete_selection(edittext_data *edit);

// Applies one key action: editing keys, caret keys (with shift selecting),
// then character entry.  True when the text or the caret changed; false for
// a key that does not fit (field full, too wide, not a digit in a number-only
// field) or an action without a key.
bool handle_edittext_action(edittext_data *edit, const action_data *action);

// The byte offset of a point in the owner's coordinates: the wrapped click
// point over the displayed text (masked for a password field), the length of
// the text when the search finds nothing.
int32_t edittext_offset_at_point(const edittext_data *edit, point2d point);
// Places the caret (and the anchor) at the point; the press now means
// _meant_place_cursor and `user_refcon` takes machine_tick_count.
void place_cursor(edittext_data *edit, point2d point);
// Extending (shift): a point at or before the start moves the start, one
// after the end moves the end, one inside changes nothing.  Not extending (a
// drag): the selection spans the anchor and the point.
void make_selection(edittext_data *edit, point2d point, bool extend);

// Draws the field into `destination` (the owner's coordinates): the shaded
// background, the text or the placeholder, the selection box and, when
// `focused`, the caret while the selection is empty, _no_cursor_flag clear
// and _cursor_is_visible_flag set.
void draw_edittext(const edittext_data *edit, bitmap_data *destination, bool focused);

// True when any of `flags` is set (false for a bad record).
bool get_edittext_flag(const edittext_data *edit, int32_t flags);
void set_edittext_flag(edittext_data *edit, int32_t flags, bool on);
intptr_t get_edittext_user_refcon(const edittext_data *edit);
void set_edittext_user_refcon(edittext_data *edit, intptr_t refcon);
int16_t get_edittext_last_click_meaning(const edittext_data *edit); // _meant_nothing for a bad record
void set_edittext_last_click_meaning(edittext_data *edit, int16_t meaning);
void set_edittext_bounds(edittext_data *edit, const rectangle2d *bounds);
// Font and text flags (-1 leaves either as it is) and colour (NULL leaves it).
void set_edittext_text_format(edittext_data *edit, int32_t font, int32_t text_flags, const rgb_color *color);
