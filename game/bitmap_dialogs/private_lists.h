#pragma once
// The list engine: rows, selection, sorting, scrolling and the scroll bar.
//
// A list is an ordered set of rows, each holding the list's own copy of the
// caller's bytes, with per-row selected, enabled and visible flags and
// per-row heights.  It scrolls by the pixel, has a 16-pixel scroll bar on its
// right (arrows, page regions and a draggable thumb), can insert in sorted
// order, find a row by a match procedure, and draws each row through a
// caller-supplied procedure.  It knows nothing of dialogs: the list control
// owns one list per item and is its only client.
//
// Coordinates are dialog pixels (right and bottom exclusive).  Positions
// inside the list (a row's top, the scroll position) are 32-bit so that lists
// taller than 32767 pixels scroll and hit-test correctly.
//
// Every call checks the list's cookie: a NULL or foreign list logs
// "List at 0x%x is bad!" and gets the neutral answer (-1, 0, false, nothing)
// without the record being touched.  Row indexes outside [0, count) are
// refused the same way.
//
// Main thread only; sort_list is not re-entrant (a sort procedure must not
// sort a list).

#include <cstdint>

#include "cseries/cseries.h"
#include "point2d.h"

struct bitmap_data;

#define LIST_COOKIE FOUR_CHARACTER_CODE('l', 'i', 's', 't')

enum
{
    SCROLL_BAR_WIDTH = 16,
    ARROW_HEIGHT = 14,
    THUMB_HEIGHT = 14,
    MINIMUM_THUMB_HEIGHT = 14,
    // A scroll-bar sequence with at least this many frames per view draws a
    // proportional thumb; fewer draw the fixed one.
    _proportional_thumb_bitmap_count = 7,

    DEFAULT_LIST_ALLOCATED_ROW_COUNT = 32,
    DEFAULT_LIST_MAXIMUM_ROW_COUNT = 32767,
    DEFAULT_LIST_HORIZONTAL_GUTTER = 1,
    DEFAULT_LIST_VERTICAL_GUTTER = 2,
    DEFAULT_LIST_ARROW_SCROLL_RATE = 4,
    DEFAULT_LIST_PAGE_UP_DOWN_RATE = 4,
    // set_list_gutters leaves a gutter given as this unchanged.
    LIST_GUTTER_UNCHANGED = 65535,
};

// The list flags (private_list_data.flags).
enum
{
    _list_has_vertical_scroll_flag = 1, // kept by the engine: content taller than the view
    _list_can_be_focused_flag = 2, // always set at creation
    _list_draws_from_bottom_flag = 4, // short content lies against the view's bottom
    _list_cant_lose_selection_flag = 8, // a press off the rows or on an unselectable row keeps the selection
    _list_autoscrolls_on_add_flag = 16, // not read by the engine (autoscroll_mode is)
    _list_has_shaded_background_flag = 32, // translucent black frame and fill behind the list
    _list_scrollbars_have_background_flag = 64, // the scroll-bar column gets a tiled background
    _list_click_in_selected_row_deselects_flag = 128,
    _list_draw_focus_box_flag = 256, // read by the list control
    _list_selection_locked_flag = 512, // a row was selected with option or control held
    _list_disabled_row_allow_click_flag = 1024, // disabled rows can be selected
    _list_allows_variable_height_rows_flag = 2048, // rows keep the caller's height
    _list_cannot_accept_row_clicks_flag = 4096, // presses on rows are ignored (the bar still works)
    _list_does_not_redraw_when_data_changes_flag = 8192, // read by the list control
    _list_click_in_selected_row_deselects_not_double_flag = 16384,
    _list_dont_draw_scrollbars_flag = 32768, // no scroll bar; rows use the full width
};

// Row flags (row_data.flags; also what draw procedures receive).
enum
{
    _row_selected_flag = 1,
    _row_enabled_flag = 2,
    _row_variable_sized_flag = 4, // only ever handed to draw procedures
    _row_visible_flag = 8,
};

// private_list_data.autoscroll_mode: what adding a row does to the view.
enum
{
    _autoscroll_mode_never = 0,
    _autoscroll_mode_always = 1, // the new row is brought into view
    _autoscroll_mode_only_at_bottom = 2, // only when the previous last row's bottom was in view
};

// What the current press is in (private_list_data.item_last_clicked); NONE
// (-1) between presses.
enum
{
    _in_up_arrow = 0,
    _in_down_arrow = 1,
    _in_thumb = 2,
    _in_page_up = 3,
    _in_page_down = 4,
    _row_deselected = 5,
    _row_selected = 6,
};

// Modifiers handed to click_private_list.
enum
{
    _list_modifier_command_flag = 1,
    _list_modifier_option_flag = 2,
    _list_modifier_control_flag = 4,
    _list_modifier_shift_flag = 8,
};

// States (views) and elements (frames) of the scroll-bar sequence of 'baie'.
enum
{
    _scrollbar_enabled = 0,
    _scrollbar_enabled_and_clicked = 1,
    _scrollbar_disabled = 2,
};
enum
{
    _scrollbar_up_arrow = 0,
    _scrollbar_down_arrow = 1,
    _scrollbar_thumb = 2,
    _scrollbar_thumb_upper_cap = 3,
    _scrollbar_thumb_lower_cap = 4,
    _scrollbar_thumb_widget = 5,
    _scrollbar_thumb_filler = 6,
};

// Draws one row.  `row_bounds` is the whole row, `clip` the part of it in
// view (both in the destination's coordinates); `flags` are the row's flags
// (_row_selected_flag, _row_enabled_flag, ...).
typedef void (*draw_list_proc)(bitmap_data *destination, const rectangle2d *row_bounds, const rectangle2d *clip,
                               const void *data, int16_t length, int16_t font_id, uint16_t flags);
// Negative when `a` goes before `b`.
typedef int32_t (*sort_list_proc)(const void *a, int16_t length_a, const void *b, int16_t length_b);
// Whether the row answers to the typed text (NUL-terminated).
typedef bool (*match_list_proc)(const void *data, int16_t length, const char *typed_text);
// A row's sort summary: `high` then `low` compared as unsigned numbers.
struct list_sort_key
{
    uint64_t high, low;
};
// Optional companion of a sort procedure: a summary of the row's bytes that
// orders rows as the sort procedure does wherever two summaries differ (the
// smaller sorts first; equal summaries decide nothing).  Kept beside each
// row, it spares most comparisons a read of the rows' bytes.  False when the
// row has no summary: such a row, like one whose summary is all zero, is
// always compared by the sort procedure.
typedef bool (*sort_key_list_proc)(const void *data, int16_t length, list_sort_key *key);

// One row.  `height_in_list` is the running sum of the heights of the
// visible rows before it, brought up to date when the engine reads it (an
// insertion near the top would otherwise move every row below): read it
// through get_row_bounds_private_list.  Rows are reached through
// get_private_list_row: the list keeps them in blocks, not in one array.
struct row_data
{
    void *data; // the list's own copy, `length` bytes
    int32_t height_in_list;
    int16_t height;
    int16_t length;
    uint16_t flags; // _row_*_flag
};

// One list.  Made by new_private_list, freed by dispose_private_list.
struct private_list_data
{
    uint32_t cookie; // LIST_COOKIE
    rectangle2d bounds; // the whole list, scroll-bar column included
    int16_t font_id; // handed to the draw procedure; interface font 0 at creation
    uint16_t flags; // _list_*_flag
    int16_t autoscroll_mode;
    int16_t actual_row_count;
    int16_t allocated_row_count; // 32 at creation, doubled up to the maximum
    int16_t maximum_row_count; // at least 1; the oldest row goes when full
    int16_t top_visible_row;
    int32_t pixel_offset_within_row; // of the top row, scrolled above the view
    uint32_t ticks_at_last_click; // machine_tick_count of the last press on the rows
    int16_t last_row_clicked; // NONE for none
    int16_t offset_within_thumb; // thumb top minus the pointer's y when grabbed
    // The rows in order, in blocks (opaque: see get_private_list_row).
    // allocated_row_count counts slots as an array doubling from 32 would.
    struct private_list_rows *rows;
    draw_list_proc draw_proc;
    sort_list_proc sort_proc;
    match_list_proc match_proc;
    sort_key_list_proc sort_key_proc; // belongs to sort_proc; dropped when that changes
    int16_t item_last_clicked; // _in_* or _row_*; NONE between presses
    int16_t double_click_item; // dialog item pressed on a double click, NONE for none
    int16_t horizontal_gutter;
    int16_t vertical_gutter;
    int16_t arrow_scroll_rate; // pixels per arrow step
    int16_t page_up_down_rate; // a page is the view's height divided by this
    // The rows before this one hold their height_in_list; the engine brings
    // the others up to date as far as it reads (so reading may write here).
    mutable int32_t first_stale_row;
    int32_t visible_rows_height; // the sum of the visible rows' heights, kept as rows change
};

// ---- creation ------------------------------------------------------------------

// A list with no rows, 32 slots preset to the line height of interface font
// 0, maximum 32767, gutters 1 and 2, arrow step 4, page divisor 4, no
// procedures and `flags` | _list_can_be_focused_flag.  NULL when memory runs out.
private_list_data *new_private_list(const rectangle2d *bounds, uint16_t flags);
// Frees every row's copy, the slots and the record.
void dispose_private_list(private_list_data *list);

// ---- rows ----------------------------------------------------------------------

// Adds a copy of `length` bytes (at most 32767; NULL data only with length
// 0) as a row of `row_height` pixels, enabled or not: dropping row 0 first
// while the list is full, growing the slots by doubling, inserting (with a
// sort procedure) before the first row the data sorts before, so after equal
// rows (found by a binary search: rows are kept in the procedure's order),
// then autoscrolling by the list's mode.  The row's index, or -1 when refused or out of memory (the
// list then stays as it was).
int16_t add_data_to_private_list(const void *data, int16_t length, private_list_data *list, int16_t row_height,
                                 bool enabled);
// Frees the row's copy and closes the gap; the selection, the last row
// clicked and the top row's index are not adjusted; the scroll position is
// clamped again.
void delete_row_from_list(int16_t row, private_list_data *list);
// Deletes `count` rows from `row` on (the same index `count` times).
void delete_row_private_list(int16_t count, int16_t row, private_list_data *list);
// Copies `length` bytes over the row's copy; a length other than the row's
// is refused (logged).
void set_data_in_private_list_row(private_list_data *list, int16_t row, const void *data, int16_t length);
// Copies the row into `buffer` and sets *size to its length when the row
// exists and fits; otherwise zero-fills *size bytes and sets *size to 0.
// Nothing when buffer or size is NULL or *size <= 0.
void get_data_from_private_list_row(const private_list_data *list, int16_t row, void *buffer, int16_t *size);
// The row's copy (NULL for a bad row), for callers that only read it.
const void *get_private_list_row_data_pointer(const private_list_data *list, int16_t row, int16_t *length);
// The row's record, for callers that only read it (its height_in_list may be
// stale: see get_row_bounds_private_list).  NULL for a bad list or row
// (logged).  Valid until the list next changes.
const row_data *get_private_list_row(const private_list_data *list, int16_t row);
int16_t get_row_count_private_list(const private_list_data *list); // 0 for a bad list

void set_list_row_enabled(private_list_data *list, int16_t row, bool enabled);
uint16_t get_row_enabled_private_list(const private_list_data *list, int16_t row); // the flag bit, 0 for a bad row
void set_list_row_visible(private_list_data *list, int16_t row, bool visible);
uint16_t get_row_visible_private_list(const private_list_data *list, int16_t row);

// Sets the height of every slot (heights below 0 become 0).
void set_list_line_height(private_list_data *list, int16_t height);
int16_t get_list_line_height(const private_list_data *list); // slot 0's height
int16_t get_list_line_width(const private_list_data *list);  // bounds width

// Orders the rows (flags travel with them) by the sort procedure; nothing
// without one.  Equal rows keep no particular order.
void sort_list(private_list_data *list);

// The first enabled row the match procedure accepts for `text`: true and
// its index in *row; false without a procedure or a match.
bool find_data_in_private_list(const char *text, int16_t *row, const private_list_data *list);

// ---- selection -----------------------------------------------------------------

// Selecting a selectable row (enabled, or any row with
// _list_disabled_row_allow_click_flag) makes it the only selected row;
// selecting one that is not clears the selection unless
// _list_cant_lose_selection_flag.  Deselecting clears only that row.
// Returns whether the row is selectable.
bool set_select_private_list(bool select, int16_t row, private_list_data *list);
// From *row (0 when negative): without `multiple`, whether that row is
// selected; with it, the first selected row at or after it in *row (true),
// or false with *row the row count.
bool get_select_private_list(bool multiple, int16_t *row, const private_list_data *list);
// Advances *row; whether the new row exists.
bool next_row_private_list(int16_t *row, const private_list_data *list);
void unselect_all_private_list(private_list_data *list);

// ---- geometry, scrolling and presses ---------------------------------------------

// The visible row under `point`, NONE for none (or a point on the scroll-bar
// column).  `distances` (may be NULL) gets the point's distances from the
// row's left, right, top and bottom edges.
int16_t get_row_at_point_private_list(const private_list_data *list, point2d point, rectangle2d *distances);
// In list coordinates: the row (top its height_in_list) and the view (top the
// scroll position).  32-bit because both may lie below 32767.
struct list_span
{
    int32_t top, left, bottom, right;
};
void get_row_bounds_private_list(int16_t row, list_span *row_bounds, list_span *view_bounds,
                                 const private_list_data *list);
// Scrolls the least that shows the whole row; with `centre` the row's edge
// lands at the middle of the view.
void make_row_visible_private_list(int16_t row, private_list_data *list, bool centre);
// One arrow step (_in_up_arrow, _in_down_arrow) or page (_in_page_up,
// _in_page_down); nothing when everything fits.
void move_private_list(private_list_data *list, int16_t part);
// Scrolls by `delta` pixels (positive: toward the end); nothing when
// everything fits.
void move_private_list_by_delta(private_list_data *list, int32_t delta);
// The scroll position: the top row's height_in_list plus the offset.
int32_t get_private_list_scroll_position(const private_list_data *list);
// The content's height (the last row's bottom, hidden or not) and the sum of
// the visible rows' heights.
int32_t get_private_list_content_height(const private_list_data *list);
int32_t get_private_list_visible_rows_height(const private_list_data *list);

// The scroll-bar parts inside `scrollbar` (each out rectangle may be NULL).
// The arrows are always written; the thumb only when there is one (the
// content is taller than the view and the track is not empty): the result.
bool calculate_scroll_element_bounds(const private_list_data *list, const rectangle2d *scrollbar,
                                     rectangle2d *up_arrow, rectangle2d *down_arrow, rectangle2d *thumb);
// The scroll-bar column: the bounds from bounds.right - 16.
void get_private_list_scrollbar_bounds(const private_list_data *list, rectangle2d *scrollbar);

// One action of a press with the button down (the first and every following
// one): the scroll bar (arrows and pages repeat on every call, the thumb
// drags), else the rows.  True only for a completed double click on the
// same row as the previous press.  `modifiers` are _list_modifier_*_flag.
bool click_private_list(private_list_data *list, point2d pointer, uint16_t modifiers, bool double_clicked);
// The button came up: the press is over.
void mouse_up_in_list(private_list_data *list);

// Draws the shaded background, the scroll bar and the rows in view.
void draw_private_list(bitmap_data *destination, const private_list_data *list, bool enabled);

// ---- plain accessors -------------------------------------------------------------

void set_private_list_bounds(private_list_data *list, const rectangle2d *bounds);
void get_bounds_from_private_list(const private_list_data *list, rectangle2d *bounds);
int16_t get_private_list_font_id(const private_list_data *list);
void set_private_list_font_id(private_list_data *list, int16_t font_id);
void set_list_arrow_scroll_rate(private_list_data *list, int16_t pixels);
// LIST_GUTTER_UNCHANGED leaves that gutter as it is.
void set_list_gutters(private_list_data *list, uint16_t horizontal, uint16_t vertical);
// A maximum below 1 becomes 1.  Rows already there stay until the next add.
void set_list_maximum_row_count(private_list_data *list, int16_t count);
uint16_t get_private_list_flag(const private_list_data *list, uint16_t mask); // flags & mask
void set_private_list_flag(private_list_data *list, uint16_t mask, bool on);
bool get_list_focusable(const private_list_data *list);
void set_list_double_click_item(private_list_data *list, int16_t item_id);
int16_t get_list_double_click_item(const private_list_data *list); // NONE for a bad list
// Each setter of a procedure returns whether the procedure changed.
bool set_list_match_proc(private_list_data *list, match_list_proc procedure);
bool set_list_sort_proc(private_list_data *list, sort_list_proc procedure);
// Summaries for the current sort procedure (NULL for none), computed at once
// for every row and then for each row added or rewritten.  A procedure that
// disagrees with the sort procedure would misorder rows: pair each sort
// procedure only with its own.  A new sort procedure drops the summaries.
bool set_list_sort_key_proc(private_list_data *list, sort_key_list_proc procedure);
bool set_list_draw_proc(private_list_data *list, draw_list_proc procedure);
void set_autoscroll_mode_private_list(private_list_data *list, int16_t mode);
