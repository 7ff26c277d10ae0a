// The edit-text engine: typing, selection and the caret.

#include "bitmap_dialogs/bitmap_edittext.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/bitmap_dialogs.h" // get_dialog_color
#include "bitmap_drawing.h"
#include "bitmap_text.h"
#include "bitmaps.h"
#include "cseries/log.h"
#include "cseries/timers.h"
#include "input/input_definitions.h"
#include "interface_definitions.h"
#include "shapes.h"

// ---- checks ------------------------------------------------------------------------------

static bool edit_is_good(const edittext_data *edit)
{
    const bool good = edit && edit->magic_cookie == EDITTEXT_MAGIC_COOKIE;
    if (!good)
    {
        char text[64];
        snprintf(text, sizeof(text), "Edit at 0x%llx is bad!", (unsigned long long)(uintptr_t)edit);
        VASSERT(false, text);
    }
    return good;
}

static int32_t text_length(const edittext_data *edit)
{
    return (int32_t)strnlen(edit->string, MAXIMUM_EDITTEXT_LENGTH);
}

// ---- character boundaries ----------------------------------------------------------------
// Offsets are bytes; a boundary is an offset where a character (a byte, an
// escape pair or a two-byte character) begins, or the end of the text.

// The last boundary at or before `offset` (offset clamped to the text).
static int32_t boundary_at_or_before(const char *string, int32_t offset)
{
    int32_t index = 0;
    while (string[index])
    {
        int32_t next = index;
        get_next_character(string, &next);
        if (next > offset) break;
        index = next;
    }
    return index;
}

// The first boundary at or after `offset`, the end of the text at most.
static int32_t boundary_at_or_after(const char *string, int32_t offset)
{
    int32_t index = 0;
    while (string[index] && index < offset) get_next_character(string, &index);
    return index;
}

// The start of the character that ends at `offset` (or holds the byte before
// it); 0 at 0.
static int32_t previous_character_start(const char *string, int32_t offset)
{
    if (offset <= 0) return 0;
    const int32_t start = boundary_at_or_before(string, offset - 1);
    int32_t next = start;
    get_next_character(string, &next);
    if (next == offset)
    {
        // On a boundary: the text layer's own step back gives the same unit.
        int32_t index = offset;
        get_previous_character(string, &index);
        return index;
    }
    return start;
}

// The end of the character that begins at or holds `offset`.
static int32_t next_character_end(const char *string, int32_t offset)
{
    int32_t index = boundary_at_or_before(string, offset);
    if (!string[index]) return index;
    get_next_character(string, &index);
    return index;
}

static void remove_bytes(edittext_data *edit, int32_t start, int32_t end)
{
    const int32_t length = text_length(edit);
    if (start < 0) start = 0;
    if (end > length) end = length;
    if (end <= start) return;
    memmove(edit->string + start, edit->string + end, (size_t)(length - end + 1));
}

static void set_selection(edittext_data *edit, int32_t start, int32_t end)
{
    edit->selection_start = (int16_t)start;
    edit->selection_end = (int16_t)end;
}

// ---- life --------------------------------------------------------------------------------

edittext_data *new_edittext(const rectangle2d *bounds, int32_t flags)
{
    edittext_data *edit = (edittext_data *)calloc(1, sizeof(edittext_data));
    if (!edit) return nullptr;
    edit->magic_cookie = EDITTEXT_MAGIC_COOKIE;
    get_dialog_color(&edit->color, _dialog_edit_text_color);
    edit->font = get_interface_font_index(0);
    edit->text_flags = DEFAULT_EDITTEXT_TEXT_FLAGS;
    edit->flags = flags;
    edit->maximum_length = MAXIMUM_EDITTEXT_LENGTH;
    if (bounds) edit->bounds = *bounds;
    edit->last_click_meant = _meant_nothing;
    return edit;
}

void dispose_edittext(edittext_data *edit)
{
    if (!edit_is_good(edit)) return;
    edit->magic_cookie = EDITTEXT_DEAD_COOKIE;
    free(edit);
}

// ---- text and selection ------------------------------------------------------------------

void set_edittext_string(edittext_data *edit, const char *text)
{
    if (!edit_is_good(edit)) return;
    if (!text) text = "";
    // One byte beyond the limit is read, so that a two-byte character
    // straddling it is seen whole and left out whole.
    char copy[EDITTEXT_BUFFER_SIZE + 1];
    const size_t length = strnlen(text, (size_t)edit->maximum_length + 1);
    memcpy(copy, text, length);
    copy[length] = 0;
    const int32_t kept = boundary_at_or_before(copy, edit->maximum_length);
    memcpy(edit->string, copy, (size_t)kept);
    edit->string[kept] = 0;
    set_selection(edit, 0, 0);
    edit->selection_click = 0;
}

void get_edittext_string(const edittext_data *edit, char *buffer, int32_t size)
{
    if (!edit_is_good(edit) || !buffer || size <= 0) return;
    int32_t length = text_length(edit);
    if (length > size - 1) length = size - 1;
    memcpy(buffer, edit->string, (size_t)length);
    buffer[length] = 0;
}

void set_edittext_maximum_length(edittext_data *edit, int32_t length)
{
    if (!edit_is_good(edit)) return;
    if (!VASSERT(length >= 0 && length <= MAXIMUM_EDITTEXT_LENGTH, "max_length>=0 && max_length<=MAXIMUM_EDITTEXT_LENGTH"))
        return;
    edit->maximum_length = length;
    if (text_length(edit) > length) edit->string[boundary_at_or_before(edit->string, length)] = 0;
    const int32_t end = text_length(edit);
    if (edit->selection_end > end) edit->selection_end = (int16_t)end;
    if (edit->selection_start > edit->selection_end) edit->selection_start = edit->selection_end;
    if (edit->selection_click > end) edit->selection_click = (int16_t)end;
}

void select_edit_text_range(edittext_data *edit, int32_t start, int32_t end)
{
    if (!edit_is_good(edit)) return;
    const int32_t length = text_length(edit);
    if (start < 0) start = 0;
    if (end > length) end = length;
    if (end < start) start = end;
    // Never half a character: a range grows to whole characters, a caret
    // goes to the start of the character it falls in.
    const int32_t first = boundary_at_or_before(edit->string, start);
    set_selection(edit, first, end == start ? first : boundary_at_or_after(edit->string, end));
}

void set_edit_text_select_click(edittext_data *edit, int32_t offset)
{
    if (!edit_is_good(edit)) return;
    const int32_t length = text_length(edit);
    if (offset < 0) offset = 0;
    if (offset > length) offset = length;
    offset = boundary_at_or_before(edit->string, offset);
    edit->selection_click = (int16_t)offset;
    set_selection(edit, offset, offset);
}

void get_edit_text_selection_range(const edittext_data *edit, int16_t *start, int16_t *end)
{
    const bool good = edit_is_good(edit);
    if (start) *start = good ? edit->selection_start : 0;
    if (end) *end = good ? edit->selection_end : 0;
}

int16_t get_edit_text_select_click(const edittext_data *edit)
{
    return edit_is_good(edit) ? edit->selection_click : 0;
}

void delete_selection(edittext_data *edit)
{
    if (!edit_is_good(edit)) return;
    remove_bytes(edit, edit->selection_start, edit->selection_end);
    set_selection(edit, edit->selection_start, edit->selection_start);
}

// ---- keys --------------------------------------------------------------------------------

// The width of `count` bytes of `string` from `start`, in the record's font.
static int32_t width_of_bytes(const edittext_data *edit, const char *string, int32_t start, int32_t count)
{
    char buffer[EDITTEXT_BUFFER_SIZE + 1];
    if (count < 0) count = 0;
    if (count > EDITTEXT_BUFFER_SIZE) count = EDITTEXT_BUFFER_SIZE;
    memcpy(buffer, string + start, (size_t)count);
    buffer[count] = 0;
    return string_width(edit->font, NONE, buffer);
}

static bool enter_character(edittext_data *edit, const action_data *action)
{
    const int32_t character = action->ascii_code;
    // No character, or none that fits a byte of text (0 would end the text).
    if (character <= 0 || character > 255) return false;
    if ((edit->flags & _edittext_is_number_only_flag) && character != '-' && (character < '0' || character > '9'))
        return false;
    const int32_t length = text_length(edit);
    const int32_t selected = edit->selection_end - edit->selection_start;
    if (length - selected + 1 > edit->maximum_length) return false;
    if (!(edit->flags & _allow_text_to_wrap_flag))
    {
        char appended[EDITTEXT_BUFFER_SIZE + 1];
        memcpy(appended, edit->string, (size_t)length);
        appended[length] = (char)character;
        appended[length + 1] = 0;
        const int32_t w1 = width_of_bytes(edit, edit->string, edit->selection_start, selected);
        const int32_t w2 = string_width(edit->font, NONE, appended);
        if (w2 - w1 >= edit->bounds.right - 2 - edit->bounds.left) return false;
    }
    delete_selection(edit);
    const int32_t caret = edit->selection_start;
    const int32_t rest = text_length(edit) - caret;
    memmove(edit->string + caret + 1, edit->string + caret, (size_t)rest + 1);
    edit->string[caret] = (char)character;
    set_selection(edit, caret + 1, caret + 1);
    return true;
}

bool handle_edittext_action(edittext_data *edit, const action_data *action)
{
    if (!edit_is_good(edit) || !action) return false;
    const bool shift = action_flag_set(action, _shift_down_bit);
    const bool control = action_flag_set(action, _control_down_bit);
    const bool moves = !(edit->flags & _no_cursor_movement_flag);
    const int32_t length = text_length(edit);
    const bool has_selection = edit->selection_end > edit->selection_start;
    const int32_t key = action->key_code;

    if (key == _key_delete)
    {
        if (has_selection)
        {
            delete_selection(edit);
            return true;
        }
        const int32_t caret = edit->selection_start;
        if (caret > 0)
        {
            // The unit that ends at the caret, found by stepping back, so
            // that "ab|c" with the caret after the b loses only the b.
            const int32_t start = previous_character_start(edit->string, caret);
            remove_bytes(edit, start, caret);
            set_selection(edit, start, start);
            return true;
        }
    }
    else if (key == _key_forward_delete)
    {
        if (has_selection)
        {
            delete_selection(edit);
            return true;
        }
        const int32_t caret = edit->selection_start;
        if (caret < length)
        {
            remove_bytes(edit, caret, next_character_end(edit->string, caret));
            return true;
        }
    }
    else if (moves && (key == _key_home || key == _key_up_arrow || (key == _key_a && control)))
    {
        edit->selection_start = 0;
        if (!shift) edit->selection_end = 0;
        return true;
    }
    else if (moves && (key == _key_end || key == _key_down_arrow || (key == _key_e && control)))
    {
        edit->selection_end = (int16_t)length;
        if (!shift) edit->selection_start = (int16_t)length;
        return true;
    }
    else if (moves && key == _key_left_arrow)
    {
        if (edit->selection_start > 0)
            edit->selection_start = (int16_t)previous_character_start(edit->string, edit->selection_start);
        if (!shift) edit->selection_end = edit->selection_start;
        return true;
    }
    else if (moves && key == _key_right_arrow)
    {
        int32_t end = edit->selection_end < length ? next_character_end(edit->string, edit->selection_end) : length;
        if (end > length) end = length;
        edit->selection_end = (int16_t)end;
        if (!shift) edit->selection_start = edit->selection_end;
        return true;
    }
    return enter_character(edit, action);
}

// ---- the pointer -------------------------------------------------------------------------

// The text as shown: the text, or a mask byte for each of its bytes.
static void displayed_text(const edittext_data *edit, char *buffer)
{
    const int32_t length = text_length(edit);
    if (edit->flags & _edittext_is_password_flag) memset(buffer, EDITTEXT_PASSWORD_CHARACTER, (size_t)length);
    else memcpy(buffer, edit->string, (size_t)length);
    buffer[length] = 0;
}

static int32_t click_offset(const edittext_data *edit, point2d point)
{
    char shown[EDITTEXT_BUFFER_SIZE];
    displayed_text(edit, shown);
    const int32_t length = text_length(edit);
    int32_t offset = length; // how far to look in; out: the byte under the point
    if (!find_string_click_point_wrapped(edit->font, NONE, shown, edit->bounds.right - edit->bounds.left - 4,
                                         point.x + 1 - edit->bounds.left, point.y - 1 - edit->bounds.top, &offset))
        offset = EDITTEXT_NO_CLICK_POINT;
    if (offset < 0) offset = 0;
    if (offset > length) offset = length;
    // A masked two-byte character is two mask bytes: land on its start.
    return boundary_at_or_before(edit->string, offset);
}

int32_t edittext_offset_at_point(const edittext_data *edit, point2d point)
{
    if (!edit_is_good(edit)) return 0;
    return click_offset(edit, point);
}

void place_cursor(edittext_data *edit, point2d point)
{
    if (!edit_is_good(edit)) return;
    set_edit_text_select_click(edit, click_offset(edit, point));
    edit->last_click_meant = _meant_place_cursor;
    edit->user_refcon = (intptr_t)machine_tick_count();
}

void make_selection(edittext_data *edit, point2d point, bool extend)
{
    if (!edit_is_good(edit)) return;
    const int32_t x = point.x + 1 - edit->bounds.left;
    int32_t offset;
    if (x < 1) offset = 0;
    else if (x > edit->bounds.right - edit->bounds.left - 4) offset = text_length(edit);
    else offset = click_offset(edit, point);
    if (extend)
    {
        if (offset <= edit->selection_start) edit->selection_start = (int16_t)offset;
        else if (offset > edit->selection_end) edit->selection_end = (int16_t)offset;
        return;
    }
    // The anchor was set by an earlier press; the text may have shrunk since
    // (backspace, a new text, a lower maximum), so it is brought back inside.
    int32_t anchor = edit->selection_click;
    const int32_t length = text_length(edit);
    if (anchor < 0) anchor = 0;
    if (anchor > length) anchor = boundary_at_or_before(edit->string, length);
    edit->selection_click = (int16_t)anchor;
    if (offset < anchor) set_selection(edit, offset, anchor);
    else set_selection(edit, anchor, offset);
}

// ---- drawing -----------------------------------------------------------------------------

// Draws bytes [start, end) of `text` at pen x `pen` of a line whose origin
// offset is `line_y`; returns the pen after them.
static int32_t draw_piece(const edittext_data *edit, bitmap_data *destination, const rectangle2d *rectangle,
                          const char *text, int32_t start, int32_t end, int32_t pen, int32_t line_y, int16_t style,
                          const rgb_color *color, uint32_t flags, fixed_fraction transparency)
{
    if (end <= start) return pen;
    char piece[EDITTEXT_BUFFER_SIZE + 1];
    memcpy(piece, text + start, (size_t)(end - start));
    piece[end - start] = 0;
    point2d origin = {(int16_t)pen, (int16_t)line_y};
    draw_string(destination, &origin, rectangle, rectangle, edit->font, style, color, piece, flags, transparency);
    return pen + string_width(edit->font, style, piece);
}

// The style in effect after bytes [start, end) of `text`, from `style`.
static int16_t style_after(const char *text, int32_t start, int32_t end, int16_t style)
{
    if (end <= start) return style;
    char piece[EDITTEXT_BUFFER_SIZE + 1];
    memcpy(piece, text + start, (size_t)(end - start));
    piece[end - start] = 0;
    return compute_style_at_end_of_string(piece, style);
}

void draw_edittext(const edittext_data *edit, bitmap_data *destination, bool focused)
{
    if (!edit_is_good(edit) || !destination) return;
    const font_definition *font = get_font_definition(edit->font);
    const uint8_t *table = get_transparency_table(_transparency_normal);

    char shown[EDITTEXT_BUFFER_SIZE];
    const char *text = shown;
    fixed_fraction transparency = 0;
    const bool empty = edit->string[0] == 0;
    if (empty && edit->placeholder_string)
    {
        text = edit->placeholder_string;
        transparency = 32768;
    }
    else displayed_text(edit, shown);

    rectangle2d rectangle = edit->bounds;
    if (!(edit->flags & _no_shaded_background_flag))
    {
        frame_rectangle_clipped(destination, &rgb_black, &rectangle, nullptr, 32768, table);
        rectangle.top = (int16_t)(rectangle.top + 1);
        rectangle.left = (int16_t)(rectangle.left + 1);
        rectangle.bottom = (int16_t)(rectangle.bottom - 1);
        rectangle.right = (int16_t)(rectangle.right - 1);
        fill_rectangle_clipped(destination, &rgb_black, &rectangle, nullptr, 21845, table);
    }
    if (!font) return;

    const int32_t ascending = font->ascending_height, descending = font->descending_height;
    const int32_t spacing = ascending + descending + font->leading_height;
    const uint32_t plain_flags = (uint32_t)edit->text_flags & ~(uint32_t)_draw_string_wrap_flag;
    const uint32_t selected_flags = plain_flags & ~(uint32_t)_draw_string_shadow_flag;
    // Where a line's glyph tops lie, as draw_string places them.
    const int32_t first_top = (edit->text_flags & _draw_string_center_vertical_flag)
                                  ? rectangle.top + ((rectangle.bottom - rectangle.top - ascending - descending) >> 1)
                                  : rectangle.top;
    // A placeholder shows no selection: the selection is of the (empty) text.
    const int32_t selection_start = edit->selection_start, selection_end = edit->selection_end;
    const bool caret_shown = focused && !(edit->flags & _no_cursor_flag) && selection_start == selection_end &&
                             (edit->flags & _cursor_is_visible_flag);
    const int32_t text_end = (int32_t)strnlen(text, MAXIMUM_EDITTEXT_LENGTH);
    const int32_t wrap_width = rectangle.right - 2 - rectangle.left;

    int16_t style = NONE;
    int32_t line_start = 0, line_y = 0;
    for (;;)
    {
        wrap_string_result line;
        wrap_string(text + line_start, style, edit->font, wrap_width, (uint32_t)edit->text_flags, &line);
        int32_t line_length = line.line_length;
        if (line_length < 0) line_length = 0;
        if (line_start + line_length > text_end) line_length = text_end - line_start;
        const bool last = line.state == _wrap_string_end_of_string || line_length <= 0 ||
                          line_start + line_length >= text_end;
        const int32_t line_end = line_start + line_length; // with its line break
        int32_t drawn_end = line_end;                       // without it
        while (drawn_end > line_start && (text[drawn_end - 1] == '\r' || text[drawn_end - 1] == '\n')) --drawn_end;
        const int32_t top = first_top + line_y;

        // Before the selection, the caret, the selection, after it.
        int32_t before_end = selection_start < line_start ? line_start : (selection_start < drawn_end ? selection_start : drawn_end);
        int32_t selected_end = selection_end < before_end ? before_end : (selection_end < drawn_end ? selection_end : drawn_end);
        int32_t pen = draw_piece(edit, destination, &rectangle, text, line_start, before_end, 0, line_y, style,
                                 &edit->color, plain_flags, transparency);
        int16_t piece_style = style_after(text, line_start, before_end, style);
        if (caret_shown && selection_start >= line_start && (selection_start < line_end || last))
        {
            const int16_t x = (int16_t)(rectangle.left + pen + 1);
            const point2d p0 = {x, (int16_t)top};
            const point2d p1 = {x, (int16_t)(top + ascending + descending - 1)};
            draw_line(destination, &edit->color, 0, nullptr, &rectangle, &p0, &p1);
        }
        const bool selection_on_line =
            selection_start != selection_end && selection_start < line_end && selection_end > line_start;
        if (selection_on_line)
        {
            const int32_t glyph_left = rectangle.left + font->leading_width;
            const int32_t box_right = selection_end > line_end && !last
                                          ? rectangle.right
                                          : glyph_left + pen + width_of_bytes(edit, text, before_end, selected_end - before_end);
            const rectangle2d box = {(int16_t)top, (int16_t)(glyph_left + pen), (int16_t)(top + ascending + descending + (last ? 0 : font->leading_height)),
                                     (int16_t)box_right};
            fill_rectangle_clipped(destination, &rgb_white, &box, &rectangle, 16384, table);
            pen = draw_piece(edit, destination, &rectangle, text, before_end, selected_end, pen, line_y, piece_style,
                             &rgb_black, selected_flags, transparency);
            piece_style = style_after(text, before_end, selected_end, piece_style);
        }
        draw_piece(edit, destination, &rectangle, text, selected_end, drawn_end, pen, line_y, piece_style, &edit->color,
                   plain_flags, transparency);
        if (last) break;
        style = line.style;
        line_start = line_end;
        line_y += spacing;
    }
}

// ---- accessors ---------------------------------------------------------------------------

bool get_edittext_flag(const edittext_data *edit, int32_t flags)
{
    return edit_is_good(edit) && (edit->flags & flags) != 0;
}

void set_edittext_flag(edittext_data *edit, int32_t flags, bool on)
{
    if (!edit_is_good(edit)) return;
    if (on) edit->flags |= flags;
    else edit->flags &= ~flags;
}

intptr_t get_edittext_user_refcon(const edittext_data *edit)
{
    return edit_is_good(edit) ? edit->user_refcon : 0;
}

void set_edittext_user_refcon(edittext_data *edit, intptr_t refcon)
{
    if (edit_is_good(edit)) edit->user_refcon = refcon;
}

int16_t get_edittext_last_click_meaning(const edittext_data *edit)
{
    return edit_is_good(edit) ? edit->last_click_meant : (int16_t)_meant_nothing;
}

void set_edittext_last_click_meaning(edittext_data *edit, int16_t meaning)
{
    if (edit_is_good(edit)) edit->last_click_meant = meaning;
}

void set_edittext_bounds(edittext_data *edit, const rectangle2d *bounds)
{
    if (edit_is_good(edit) && bounds) edit->bounds = *bounds;
}

void set_edittext_text_format(edittext_data *edit, int32_t font, int32_t text_flags, const rgb_color *color)
{
    if (!edit_is_good(edit)) return;
    if (font != -1) edit->font = font;
    if (text_flags != -1) edit->text_flags = text_flags;
    if (color) edit->color = *color;
}
