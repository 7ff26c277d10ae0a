// Dialogs: loading, the open-dialog list, items and their attributes.

#include "bitmap_dialogs/bitmap_dialogs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/dialogs_private.h"
#include "bitmap_drawing.h"
#include "cseries/errors.h"
#include "cseries/tags.h"
#include "game_hooks.h"
#include "game_time.h"
#include "iniparser3.0b/inifile.h"
#include "register_vesk_controls.h"
#include "screen.h"
#include "shapes.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

const byte_swap_code dialog_header_byte_swap_codes[] = {_begin_bs_array, 1, _2byte, _2byte, _2byte, _2byte,
                                                        _2byte, _2byte, _end_bs_array};
const byte_swap_code file_control_data_byte_swap_codes[] = {
    _begin_bs_array, 1, _4byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte, _2byte,
    _end_bs_array};

// The power-user section "UI".
struct dialog_ui_settings
{
    bool debug_control_bounds;
    int32_t game_width;
    int32_t game_height;
};

static const inifile_entry dialog_ui_entries[] = {
    {"DebugControlBounds", _inifile_boolean, (int32_t)offsetof(dialog_ui_settings, debug_control_bounds), 0, 0, 0},
    {"GameWidth", _inifile_integer, (int32_t)offsetof(dialog_ui_settings, game_width), 0, 0, 0},
    {"GameHeight", _inifile_integer, (int32_t)offsetof(dialog_ui_settings, game_height), 0, 0, 0},
    {nullptr, 0, 0, 0, 0, 0},
};
static const dialog_ui_settings dialog_ui_defaults = {false, 0, 0};

// One item of idle_dialogs' list: the control and its id.
struct idle_item
{
    control_data *control;
    int16_t item_id;
};

static struct dialog_globals
{
    dialog_data *first_dialog; // the back; the tail is the front
    int32_t dispatch_depth;
    dialog_data *disposed_during_dispatch; // unlinked, cookie cleared; freed when the dispatch ends
    bool settings_read;
    dialog_ui_settings settings;
    int32_t open_dialog_count; // dialogs in the list
    int32_t item_count;        // items of the dialogs in the list
    // idle_dialogs' lists, with room for every open dialog and every item:
    // they grow when a dialog or an item is made, so a frame never allocates.
    dialog_data **idle_dialogs;
    int32_t idle_dialog_room;
    idle_item *idle_items;
    int32_t idle_item_room;
    bool idling; // idle_dialogs is running
} dialog_globals;

enum
{
    DIALOG_BACKGROUND_SEQUENCE = _dialog_elements_dialog_background_sequence,
};

// ---- the list ---------------------------------------------------------------------------

dialog_data *get_first_dialog(void) { return dialog_globals.first_dialog; }

dialog_data *get_last_dialog(void)
{
    dialog_data *d = dialog_globals.first_dialog;
    while (d && d->next) d = d->next;
    return d;
}

bool dialog_is_open(const dialog_data *dialog)
{
    if (!dialog) return false;
    for (const dialog_data *d = dialog_globals.first_dialog; d; d = d->next)
        if (d == dialog) return true;
    return false;
}

// The pointer is compared with the open dialogs before it is read, so a
// foreign or freed pointer is refused without being dereferenced.
bool check_dialog(const dialog_data *dialog)
{
    if (!VASSERT(dialog, "dialog")) return false;
    return VASSERT(dialog_is_open(dialog) && dialog->cookie == DIALOG_COOKIE, "dialog->cookie== DIALOG_COOKIE");
}

control_data *lookup_control(const dialog_data *dialog, int16_t item_id)
{
    if (!dialog) return nullptr;
    for (control_data *c = dialog->first_control; c; c = c->next)
        if (c->item_id == item_id) return c;
    return nullptr;
}

// The room to grow to for `needed` elements (doubling, from 16).
static int32_t grown_room(int32_t room, int32_t needed)
{
    int32_t grown = room > 0 ? room : 16;
    while (grown < needed) grown *= 2;
    return grown;
}

// Room in idle_dialogs' lists for `dialogs` open dialogs and `items` items;
// false when memory ran out (the lists keep their old room).
static bool reserve_idle_room(int32_t dialogs, int32_t items)
{
    if (dialogs > dialog_globals.idle_dialog_room)
    {
        const int32_t room = grown_room(dialog_globals.idle_dialog_room, dialogs);
        dialog_data **grown = (dialog_data **)realloc(dialog_globals.idle_dialogs, (size_t)room * sizeof(dialog_data *));
        if (!grown) return false;
        dialog_globals.idle_dialogs = grown;
        dialog_globals.idle_dialog_room = room;
    }
    if (items > dialog_globals.idle_item_room)
    {
        const int32_t room = grown_room(dialog_globals.idle_item_room, items);
        idle_item *grown = (idle_item *)realloc(dialog_globals.idle_items, (size_t)room * sizeof(idle_item));
        if (!grown) return false;
        dialog_globals.idle_items = grown;
        dialog_globals.idle_item_room = room;
    }
    return true;
}

static void link_dialog(dialog_data *dialog)
{
    dialog_globals.open_dialog_count += 1;
    dialog->prev = dialog->next = nullptr;
    if (!dialog_globals.first_dialog)
    {
        dialog_globals.first_dialog = dialog;
    }
    else if (dialog->flags & _dialog_bottom_zorder_flag)
    {
        dialog->next = dialog_globals.first_dialog;
        dialog_globals.first_dialog->prev = dialog;
        dialog_globals.first_dialog = dialog;
    }
    else
    {
        dialog_data *last = get_last_dialog();
        last->next = dialog;
        dialog->prev = last;
    }
}

static void unlink_dialog(dialog_data *dialog)
{
    dialog_globals.open_dialog_count -= 1;
    if (dialog->prev) dialog->prev->next = dialog->next;
    else dialog_globals.first_dialog = dialog->next;
    if (dialog->next) dialog->next->prev = dialog->prev;
    dialog->prev = dialog->next = nullptr;
}

void begin_dialog_dispatch(void) { dialog_globals.dispatch_depth += 1; }

void end_dialog_dispatch(void)
{
    if (!VASSERT(dialog_globals.dispatch_depth > 0, "unbalanced dialog dispatch")) return;
    if (--dialog_globals.dispatch_depth > 0) return;
    while (dialog_data *d = dialog_globals.disposed_during_dispatch)
    {
        dialog_globals.disposed_during_dispatch = d->next;
        free(d);
    }
}

// ---- settings ------------------------------------------------------------------------------

static const dialog_ui_settings *dialog_settings(void)
{
    if (!dialog_globals.settings_read)
    {
        const inifile_section section = {"UI", nullptr, nullptr, dialog_ui_entries, &dialog_globals.settings,
                                         &dialog_ui_defaults, (int32_t)sizeof(dialog_ui_settings)};
        dialog_globals.settings = dialog_ui_defaults;
        inifile_readsec(&section);
        dialog_globals.settings_read = true;
    }
    return &dialog_globals.settings;
}

bool dialog_debug_control_bounds(void) { return dialog_settings()->debug_control_bounds; }

void forget_dialog_settings(void) { dialog_globals.settings_read = false; }

bool get_custom_game_resolution(int32_t *width, int32_t *height)
{
    const dialog_ui_settings *settings = dialog_settings();
    if (width) *width = settings->game_width;
    if (height) *height = settings->game_height;
    return settings->game_width >= 640 && settings->game_height >= 480;
}

// ---- geometry helpers -------------------------------------------------------------------------

static bool rectangles_meet(const rectangle2d *a, const rectangle2d *b)
{
    return a->left < b->right && b->left < a->right && a->top < b->bottom && b->top < a->bottom;
}

static rectangle2d item_screen_bounds(const dialog_data *dialog, const control_data *item)
{
    rectangle2d r = item->bounds;
    r.left = (int16_t)(r.left + dialog->bounds.left);
    r.right = (int16_t)(r.right + dialog->bounds.left);
    r.top = (int16_t)(r.top + dialog->bounds.top);
    r.bottom = (int16_t)(r.bottom + dialog->bounds.top);
    return r;
}

// A screen rectangle invalidated on this dialog and every dialog in front of it.
static void invalidate_on_dialog_and_front(dialog_data *dialog, const rectangle2d *rectangle)
{
    for (dialog_data *d = dialog; d; d = d->next) invalidate_one_dialog_rectangle(d, rectangle);
}

// ---- loading --------------------------------------------------------------------------------

// Refuses a malformed dialog tag: one code-10 line naming the fault.
static bool refuse_dialog_tag(file_tag tag, const char *fault)
{
    ERROR_MESSAGE(_error_data_corrupted, "dialog '%s': %s; refused", tag_to_string(tag), fault);
    return false;
}

// Refuses one item of a dialog tag: one code-10 line naming the tag and the item.
static bool refuse_dialog_item(file_tag tag, int32_t item_id, const char *fault)
{
    ERROR_MESSAGE(_error_data_corrupted, "dialog '%s': item %d %s; refused", tag_to_string(tag), (int)item_id, fault);
    return false;
}

// Every record of a tag checked together before any item is made, so that a
// refused tag leaves nothing half built and no two items share an identifier
// (a control finding another's record by identifier reads it as its own).
// `records` are the swapped records; `frame` the screen rectangle of the
// dialog the items go into.  Refused:
// - the identifier NONE, which everything that names an item (the focus,
//   the default and cancel items, the pressed item) takes for "no item", or
//   one that the base moves past the 16-bit range;
// - two items with one identifier, in the tag or against the dialog's items;
// - a record whose fields no type reads are not 0 (padding, bitmap_ids,
//   state): the record was written for something else;
// - a rectangle turned inside out, or one that leaves the 16-bit screen
//   coordinates once the dialog's origin is added (its hit tests and dirty
//   areas would wrap round).
// Overlap is not refused: which item is drawn over and wins a click is
// defined by record order, and sound dialogs use every kind (alternatives on
// one rectangle, items inside a frame, a button over a status line).  Nor is
// an item partly or wholly beyond the dialog's rectangle: drawing is clipped
// to the dialog and code places such items at run time.
static bool check_dialog_records(const dialog_data *dialog, file_tag tag, const std::vector<file_control_data> &records,
                                 int16_t base, const rectangle2d &frame)
{
    for (size_t i = 0; i < records.size(); ++i)
    {
        const file_control_data &record = records[i];
        const int32_t item_id = (int32_t)record.item_id + base;
        if (item_id == NONE || item_id > INT16_MAX) return refuse_dialog_item(tag, item_id, "has an identifier out of range");
        for (size_t j = 0; j < i; ++j)
            if (records[j].item_id == record.item_id)
                return refuse_dialog_item(tag, item_id, "is there twice (two items with one identifier)");
        if (base != 0 && lookup_control(dialog, (int16_t)item_id))
            return refuse_dialog_item(tag, item_id, "is already an item of the dialog it is added to");
        if (record.padding != 0 || record.bitmap_ids[0] != 0 || record.bitmap_ids[1] != 0 || record.state != 0)
            return refuse_dialog_item(tag, item_id, "has a record that does not fit its type (fields no type reads are not 0)");
        const rectangle2d &r = record.bounds;
        if (r.left > r.right || r.top > r.bottom) return refuse_dialog_item(tag, item_id, "has a rectangle turned inside out");
        const int32_t corners[4] = {(int32_t)frame.left + r.left, (int32_t)frame.left + r.right,
                                    (int32_t)frame.top + r.top, (int32_t)frame.top + r.bottom};
        for (const int32_t corner : corners)
            if (corner < INT16_MIN || corner > INT16_MAX)
                return refuse_dialog_item(tag, item_id, "lies outside the screen's coordinates");
    }
    return true;
}

bool load_controls_from_tag_data(dialog_data *dialog, file_tag tag, const void *data, int32_t size,
                                 int32_t string_list_index, int16_t base, bool load_bounds)
{
    if (!check_dialog(dialog)) return false;
    if (!data || size < SIZEOF_DIALOG_HEADER) return refuse_dialog_tag(tag, "shorter than its header");
    if (size > MAXIMUM_DIALOG_TAG_SIZE) return refuse_dialog_tag(tag, "larger than any dialog");

    const uint8_t *bytes = (const uint8_t *)data;
    dialog_header header;
    memcpy(&header, bytes, SIZEOF_DIALOG_HEADER);
    byte_swap_data("dialog header", &header, SIZEOF_DIALOG_HEADER, 1, dialog_header_byte_swap_codes);
    if (header.version != CURRENT_DIALOG_VERSION) return refuse_dialog_tag(tag, "not of version 1");
    if (header.control_count < 0) return refuse_dialog_tag(tag, "a negative control count");
    const int32_t records_end = SIZEOF_DIALOG_HEADER + SIZEOF_FILE_CONTROL_DATA * (int32_t)header.control_count;
    if (records_end > size) return refuse_dialog_tag(tag, "more control records than the tag holds");
    const rectangle2d &frame = load_bounds ? header.bounds : dialog->bounds;
    if (frame.left > frame.right || frame.top > frame.bottom) return refuse_dialog_tag(tag, "a rectangle turned inside out");

    std::vector<file_control_data> records((size_t)header.control_count);
    for (int32_t i = 0; i < header.control_count; ++i)
    {
        file_control_data &record = records[(size_t)i];
        memcpy(&record, bytes + SIZEOF_DIALOG_HEADER + SIZEOF_FILE_CONTROL_DATA * i, SIZEOF_FILE_CONTROL_DATA);
        byte_swap_data("file control data", &record, SIZEOF_FILE_CONTROL_DATA, 1, file_control_data_byte_swap_codes);
    }
    if (!check_dialog_records(dialog, tag, records, base, frame)) return false;
    if (load_bounds) dialog->bounds = header.bounds;

    // The inline texts: one NUL-terminated string per record, never read past the tag.
    const char *texts = (const char *)bytes + records_end;
    const int32_t text_size = size - records_end;
    int32_t text_offset = 0;
    bool texts_short = false;

    for (int32_t i = 0; i < header.control_count; ++i)
    {
        const file_control_data &record = records[(size_t)i];

        const char *text = "";
        if (string_list_index != NONE)
        {
            text = get_string_from_list(string_list_index, (int32_t)base + record.item_id - 1);
        }
        else if (text_offset < text_size)
        {
            const void *end = memchr(texts + text_offset, 0, (size_t)(text_size - text_offset));
            if (end)
            {
                text = texts + text_offset;
                text_offset = (int32_t)((const char *)end - texts) + 1;
            }
            else
            {
                texts_short = true;
                text_offset = text_size;
            }
        }
        else
        {
            texts_short = true;
        }
        new_control(dialog, &record, text, base);
        if (!dialog_is_open(dialog)) return false; // a create verb disposed of its own dialog
    }
    if (texts_short)
        log_message(__FILE__, __LINE__, "dialog '%s': its text block is short; the missing texts read as \"\"",
                    tag_to_string(tag));
    return true;
}

bool load_controls_and_dialog_bounds(dialog_data *dialog, file_tag dialog_tag, int16_t base, bool load_bounds)
{
    if (!check_dialog(dialog)) return false;
    const int32_t tag_index = tag_file_open(DIALOG_GROUP_TAG, dialog_tag);
    tag_file_info info;
    if (tag_index == NONE || !tag_file_info_get(tag_index, &info))
    {
        ERROR_MESSAGE(_error_data_missing, "Unable to find dialog definiton '%s'.", tag_to_string(dialog_tag));
        exit(-1);
    }
    if (info.size < SIZEOF_DIALOG_HEADER) return refuse_dialog_tag(dialog_tag, "shorter than its header");
    if (info.size > MAXIMUM_DIALOG_TAG_SIZE) return refuse_dialog_tag(dialog_tag, "larger than any dialog");
    std::vector<uint8_t> data((size_t)info.size);
    if (!tag_file_read(tag_index, 0, info.size, data.data())) return refuse_dialog_tag(dialog_tag, "unreadable");
    return load_controls_from_tag_data(dialog, dialog_tag, data.data(), info.size, dialog_string_list_tag_to_string_index(dialog_tag),
                                       base, load_bounds);
}

// ---- dialogs ----------------------------------------------------------------------------------

static void dispose_items(dialog_data *dialog);

static dialog_data *make_dialog_record(dialog_handler_proc handler, dialog_inhibition_proc inhibitor,
                                       int16_t sleep_time, uint16_t flags)
{
    if (!reserve_idle_room(dialog_globals.open_dialog_count + 1, dialog_globals.item_count)) return nullptr;
    dialog_data *dialog = (dialog_data *)calloc(1, sizeof(dialog_data));
    if (!dialog) return nullptr;
    dialog->background_collection_index =
        (flags & _dialog_has_no_background_flag)
            ? (int16_t)NONE
            : (int16_t)get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    dialog->background_sequence_index = DIALOG_BACKGROUND_SEQUENCE;
    dialog->private_flags = (flags & _dialog_is_initially_invisible_flag) ? 0 : _dialog_is_visible_flag;
    dialog->text_color = {DEFAULT_DIALOG_TEXT_RED, DEFAULT_DIALOG_TEXT_GREEN, DEFAULT_DIALOG_TEXT_BLUE, 0};
    dialog->dialog_handler = handler;
    dialog->dialog_inhibitor = inhibitor;
    dialog->flags = flags;
    dialog->cookie = DIALOG_COOKIE;
    dialog->item_inside = dialog->text_target_item = dialog->default_item = dialog->cancel_item =
        dialog->item_clicked = NONE;
    dialog->sleep_time = dialog->slept_ticks = sleep_time;
    dialog->ticks_at_creation = game_->local_time;
    dialog->dirty_bounds = empty_dirty_bounds;
    return dialog;
}

// The dialog is linked before its items are made, so that everything a
// create verb or the focus search calls finds an open dialog; a refused tag
// unlinks it again.
static dialog_data *finish_new_dialog(dialog_data *dialog, bool loaded, file_tag tag)
{
    if (!dialog_is_open(dialog)) return nullptr; // disposed while loading
    if (!loaded)
    {
        unlink_dialog(dialog);
        dispose_items(dialog);
        dialog->cookie = 0;
        free(dialog);
        return nullptr;
    }
    dialog->tag = tag;
    handle_tab(dialog, true);
    if (!dialog_is_open(dialog)) return nullptr;
    set_dialog_dirty(dialog);
    apply_dialog_centering_style(dialog);
    return dialog;
}

dialog_data *new_dialog(file_tag tag, dialog_handler_proc handler, dialog_inhibition_proc inhibitor,
                        int16_t sleep_time, uint16_t flags)
{
    dialog_data *dialog = make_dialog_record(handler, inhibitor, sleep_time, flags);
    if (!dialog) return nullptr;
    link_dialog(dialog);
    const bool loaded = load_controls_and_dialog_bounds(dialog, tag, 0, true);
    return finish_new_dialog(dialog, loaded, tag);
}

dialog_data *new_dialog_from_tag_data(file_tag tag, const void *data, int32_t size, int32_t string_list_index,
                                      dialog_handler_proc handler, dialog_inhibition_proc inhibitor,
                                      int16_t sleep_time, uint16_t flags)
{
    dialog_data *dialog = make_dialog_record(handler, inhibitor, sleep_time, flags);
    if (!dialog) return nullptr;
    link_dialog(dialog);
    const bool loaded = load_controls_from_tag_data(dialog, tag, data, size, string_list_index, 0, true);
    return finish_new_dialog(dialog, loaded, tag);
}

// Every item gets the dispose verb while the list is whole, then all are freed.
static void dispose_items(dialog_data *dialog)
{
    for (control_data *c = dialog->first_control; c; c = c->next)
    {
        param_control_dispose_verb parameter = {c->extra_data};
        c->handler(_control_dispose_verb, dialog, c->item_id, &parameter);
        c->extra_data = nullptr;
    }
    while (control_data *c = dialog->first_control)
    {
        dialog->first_control = c->next;
        free(c);
        dialog_globals.item_count -= 1;
    }
    dialog->item_list_changes += 1;
}

void dispose_dialog(dialog_data *dialog)
{
    if (!check_dialog(dialog)) return;
    const rectangle2d covered = dialog->bounds;
    dispose_bitmap(dialog->internal_bitmap);
    dialog->internal_bitmap = nullptr;
    dispose_items(dialog);
    unlink_dialog(dialog);
    dialog->cookie = 0;
    if (dialog_globals.dispatch_depth > 0)
    {
        dialog->next = dialog_globals.disposed_during_dispatch;
        dialog_globals.disposed_during_dispatch = dialog;
    }
    else
    {
        free(dialog);
    }
    invalidate_dialog_rectangle(&covered);
}

void close_all_dialogs(void)
{
    // A dialog still open at exit was left by whoever opened it (a window
    // closed under it, a quit from its loop): the log names each.
    while (dialog_data *dialog = dialog_globals.first_dialog)
    {
        log_message(__FILE__, __LINE__, "dialog '%s' (at %d,%d to %d,%d) was still open at exit: closed",
                    tag_to_string(dialog->tag), (int)dialog->bounds.left, (int)dialog->bounds.top,
                    (int)dialog->bounds.right, (int)dialog->bounds.bottom);
        dispose_dialog(dialog);
    }
}

bool dialog_has_items(const dialog_data *dialog, const dialog_item_requirement *items, int32_t count)
{
    if (!check_dialog(dialog) || (!items && count > 0)) return false;
    for (int32_t i = 0; i < count; ++i)
    {
        const control_data *item = lookup_control(dialog, items[i].item_id);
        if (!item || item->tag != items[i].type)
        {
            ERROR_MESSAGE(_error_data_corrupted, "dialog '%s': item %d ('%s') that its code needs is %s; refused",
                          tag_to_string(dialog->tag), (int)items[i].item_id, tag_to_string(items[i].type),
                          item ? "of another type" : "missing");
            return false;
        }
    }
    return true;
}

bool dialog_has_item(const dialog_data *dialog, int16_t item_id)
{
    return check_dialog(dialog) && lookup_control(dialog, item_id) != nullptr;
}

dialog_data *open_dialog_with_items(file_tag tag, uint16_t flags, const dialog_item_requirement *items, int32_t count,
                                    file_tag background)
{
    rectangle2d bounds;
    if (!get_dialog_bounds_from_file(tag, &bounds))
    {
        log_message(nullptr, -1, "the dialog '%s' cannot be read", tag_to_string(tag));
        return nullptr;
    }
    dialog_data *dialog = new_dialog(tag, nullptr, nullptr, NONE, flags);
    if (dialog && !dialog_has_items(dialog, items, count))
    {
        dispose_dialog(dialog);
        dialog = nullptr;
    }
    if (!dialog)
    {
        log_message(nullptr, -1, "the dialog '%s' cannot be opened", tag_to_string(tag));
        return nullptr;
    }
    const int32_t collection = background != (file_tag)NONE ? get_collection_index(background) : NONE;
    if (collection != NONE) set_dialog_background(dialog, (int16_t)collection, 0);
    return dialog;
}

void append_ditl(dialog_data *dialog, file_tag tag)
{
    if (!check_dialog(dialog)) return;
    load_controls_and_dialog_bounds(dialog, tag, get_dialog_item_count(dialog), false);
    if (dialog_is_open(dialog)) set_dialog_dirty(dialog);
}

// Clears what names the item that is going away.
static void forget_item(dialog_data *dialog, int16_t item_id)
{
    if (dialog->item_inside == item_id) dialog->item_inside = NONE;
    if (dialog->item_clicked == item_id)
    {
        dialog->item_clicked = NONE;
        dialog->delay = 0;
        dialog->delay_was_set = false;
    }
    if (dialog->text_target_item == item_id) dialog->text_target_item = NONE;
    if (dialog->default_item == item_id) dialog->default_item = NONE;
    if (dialog->cancel_item == item_id) dialog->cancel_item = NONE;
}

// Unlinks, disposes and frees one item, invalidating the area it covered.
static void remove_item(dialog_data *dialog, control_data *item)
{
    control_data **link = &dialog->first_control;
    while (*link && *link != item) link = &(*link)->next;
    if (!*link) return;
    *link = item->next;
    item->next = nullptr;
    dialog_globals.item_count -= 1;
    dialog->item_list_changes += 1;
    forget_item(dialog, item->item_id);
    const rectangle2d covered = item_screen_bounds(dialog, item);
    param_control_dispose_verb parameter = {item->extra_data};
    item->handler(_control_dispose_verb, dialog, item->item_id, &parameter);
    free(item);
    if (dialog_is_open(dialog)) invalidate_on_dialog_and_front(dialog, &covered);
}

void shorten_ditl(dialog_data *dialog, int16_t last_item_id)
{
    if (!check_dialog(dialog)) return;
    for (;;)
    {
        control_data *c = dialog->first_control;
        while (c && c->item_id <= last_item_id) c = c->next;
        if (!c) break;
        remove_item(dialog, c);
        if (!dialog_is_open(dialog)) return;
    }
    set_dialog_dirty(dialog);
}

void get_dialog_bounds(const dialog_data *dialog, rectangle2d *bounds)
{
    if (!bounds) return;
    if (!check_dialog(dialog))
    {
        *bounds = {0, 0, 0, 0};
        return;
    }
    *bounds = dialog->bounds;
}

bool get_dialog_bounds_from_file(file_tag dialog_tag, rectangle2d *bounds)
{
    if (!bounds) return false;
    const int32_t tag_index = tag_file_open(DIALOG_GROUP_TAG, dialog_tag);
    if (tag_index == NONE) return false;
    dialog_header header;
    if (!tag_file_read(tag_index, 0, SIZEOF_DIALOG_HEADER, &header)) return false;
    byte_swap_data("dialog header", &header, SIZEOF_DIALOG_HEADER, 1, dialog_header_byte_swap_codes);
    if (header.version != CURRENT_DIALOG_VERSION) return false;
    *bounds = header.bounds;
    return true;
}

void move_dialog(dialog_data *dialog, const rectangle2d *bounds)
{
    if (!check_dialog(dialog) || !bounds) return;
    const rectangle2d old = dialog->bounds;
    if (!memcmp(&old, bounds, sizeof(old))) return;
    if (old.right - old.left != bounds->right - bounds->left || old.bottom - old.top != bounds->bottom - bounds->top)
    {
        dispose_bitmap(dialog->internal_bitmap);
        dialog->internal_bitmap = nullptr;
    }
    dialog->bounds = *bounds;
    set_dialog_dirty(dialog);
}

void set_dialog_visible(dialog_data *dialog, bool visible)
{
    if (!check_dialog(dialog)) return;
    if (visible)
    {
        dialog->private_flags |= _dialog_is_visible_flag;
        set_dialog_dirty(dialog);
    }
    else
    {
        dialog->private_flags &= (uint16_t)~(_dialog_is_visible_flag | _dialog_has_dirty_background_controls_flag);
        dialog->dirty_bounds = empty_dirty_bounds;
    }
}

void set_dialog_background(dialog_data *dialog, int16_t collection_index, int16_t sequence_index)
{
    if (!check_dialog(dialog)) return;
    dialog->background_collection_index = collection_index;
    dialog->background_sequence_index = sequence_index;
}

void set_dialog_background_transparency(dialog_data *dialog, fixed_fraction transparency)
{
    if (!check_dialog(dialog)) return;
    dialog->background_transparency = transparency;
}

void set_dialog_background_color(dialog_data *dialog, const rgb_color *color)
{
    if (!check_dialog(dialog) || !color) return;
    dialog->background_color = *color;
    dialog->private_flags |= _dialog_background_color_valid_flag;
    set_dialog_dirty(dialog);
}

void set_dialog_transparency(dialog_data *dialog, fixed_fraction transparency)
{
    if (!check_dialog(dialog)) return;
    if (!VASSERT(dialog->flags & _dialog_is_transparent_flag, "dialog->flags & _dialog_is_transparent_flag")) return;
    dialog->transparency = transparency;
    set_dialog_dirty(dialog);
}

void set_dialog_item_transparency(dialog_data *dialog, fixed_fraction transparency)
{
    if (!check_dialog(dialog)) return;
    dialog->item_transparency = transparency;
    set_dialog_dirty(dialog);
}

int16_t get_dialog_default_item(const dialog_data *dialog)
{
    return check_dialog(dialog) ? dialog->default_item : (int16_t)NONE;
}

int16_t get_dialog_focus(const dialog_data *dialog)
{
    return check_dialog(dialog) ? dialog->text_target_item : (int16_t)NONE;
}

int16_t get_dialog_sound_list_index(const dialog_data *dialog)
{
    return check_dialog(dialog) ? dialog->sound_list_index : (int16_t)NONE;
}

rgb_color *get_dialog_color(rgb_color *color, int16_t index)
{
    if (!color) return nullptr;
    const int32_t collection = get_collection_index(INTERNAL_DIALOG_ELEMENTS_COLLECTION_TAG);
    if (collection == NONE)
    {
        *color = {0, 0, 0, 0};
        return color;
    }
    return get_rgb_color_from_sequence(collection, _dialog_elements_dialog_colors_sequence, index, color);
}

bool get_popup_dialog_union_rect(rectangle2d *rectangle)
{
    bool found = false;
    rectangle2d r = {0, 0, 0, 0};
    for (const dialog_data *d = dialog_globals.first_dialog; d; d = d->next)
    {
        if (!(d->private_flags & _dialog_is_visible_flag) || !(d->flags & _dialog_is_centered_flag)) continue;
        if (!found) r = d->bounds;
        else
        {
            if (d->bounds.top < r.top) r.top = d->bounds.top;
            if (d->bounds.left < r.left) r.left = d->bounds.left;
            if (d->bounds.bottom > r.bottom) r.bottom = d->bounds.bottom;
            if (d->bounds.right > r.right) r.right = d->bounds.right;
        }
        found = true;
    }
    if (found && rectangle) *rectangle = r;
    return found;
}

bool dialog_exists_in_rectangle(const rectangle2d *rectangle)
{
    if (!rectangle) return false;
    for (const dialog_data *d = dialog_globals.first_dialog; d; d = d->next)
        if ((d->private_flags & _dialog_is_visible_flag) && rectangles_meet(&d->bounds, rectangle)) return true;
    return false;
}

// apply_dialog_centering_style for a dialog known to be open.
static void center_dialog(dialog_data *dialog)
{
    const uint16_t flags = dialog->flags;
    if (!(flags & (_dialog_is_centered_flag | _dialog_is_hcentered_flag | _dialog_is_vcentered_flag))) return;
    // A headless run (the tools' lobby road) has no screen to center on:
    // the dialog keeps the place its tag gives it.
    if (!active_screen.screen_initialized) return;
    const bool h = (flags & _dialog_is_hcentered_flag) != 0, v = (flags & _dialog_is_vcentered_flag) != 0;
    const int32_t mode = h && !v ? _adjust_rectangle_hcenter : v && !h ? _adjust_rectangle_vcenter
                                                                        : _adjust_rectangle_center;
    rectangle2d screen, new_bounds;
    get_screen_bounds(&screen);
    adjust_rectangle2d(&screen, &dialog->bounds, &new_bounds, mode);
    VASSERT(new_bounds.left >= 0 && new_bounds.top >= 0, "new_bounds.left >= 0 && new_bounds.top >= 0");
    if (!memcmp(&new_bounds, &dialog->bounds, sizeof(new_bounds))) return;
    const rectangle2d old = dialog->bounds;
    dialog->bounds = new_bounds;
    if (dialog->private_flags & _dialog_is_visible_flag)
    {
        set_dialog_dirty(dialog);
        invalidate_dialog_rectangle(&old);
    }
}

void apply_dialog_centering_style(dialog_data *dialog)
{
    if (check_dialog(dialog)) center_dialog(dialog);
}

// The idle verb to each item of the dialog that asks for idle time, in list
// order as it stands now.  An idle verb may add, remove or move items: while
// the list is unchanged the kept pointers hold, after a change each later
// item is found again by its id.  Stops when the dialog is disposed.
static void idle_dialog_items(dialog_data *dialog)
{
    idle_item *items = dialog_globals.idle_items;
    int32_t count = 0;
    for (control_data *c = dialog->first_control; c && count < dialog_globals.idle_item_room; c = c->next)
        if (c->flags & _control_requires_idle_time_flag) items[count++] = {c, c->item_id};
    const uint32_t changes = dialog->item_list_changes;
    for (int32_t i = 0; i < count; ++i)
    {
        const int16_t item_id = items[i].item_id;
        control_data *c = dialog->item_list_changes == changes ? items[i].control : lookup_control(dialog, item_id);
        if (!c || !(c->flags & _control_requires_idle_time_flag)) continue;
        const intptr_t redraw = c->handler(_control_idle_verb, dialog, item_id, nullptr);
        if (dialog->cookie != DIALOG_COOKIE) return;
        if (redraw && (dialog->item_list_changes == changes || lookup_control(dialog, item_id)))
            set_dialog_item_dirty(dialog, item_id);
    }
}

void idle_dialogs(void)
{
    if (!VASSERT(!dialog_globals.idling, "idle_dialogs from an idle verb")) return;
    for (dialog_data *d = dialog_globals.first_dialog; d; d = d->next) center_dialog(d);

    // The dialogs to idle as they stand now: the modal one while one runs,
    // else every open one; a dialog an idle verb opens waits for the next
    // frame.  Frees wait for the end of the dispatch, so a dialog disposed
    // meanwhile stays readable, with its cookie cleared.
    begin_dialog_dispatch();
    dialog_globals.idling = true;
    dialog_data **dialogs = dialog_globals.idle_dialogs;
    int32_t count = 0;
    dialog_data *modal = get_modal_dialog();
    if (modal)
    {
        // A stale modal pointer is refused without being read.
        if (dialog_is_open(modal) && count < dialog_globals.idle_dialog_room) dialogs[count++] = modal;
    }
    else
    {
        for (dialog_data *d = dialog_globals.first_dialog; d && count < dialog_globals.idle_dialog_room; d = d->next)
            dialogs[count++] = d;
    }
    for (int32_t i = 0; i < count; ++i)
        if (dialogs[i]->cookie == DIALOG_COOKIE) idle_dialog_items(dialogs[i]);
    dialog_globals.idling = false;
    end_dialog_dispatch();
}

// ---- items ---------------------------------------------------------------------------------------

control_data *find_control(const dialog_data *dialog, int16_t item_id)
{
    if (!check_dialog(dialog)) return nullptr;
    control_data *c = lookup_control(dialog, item_id);
    VASSERT(c, "control");
    return c;
}

control_data *find_control_of_type(const dialog_data *dialog, int16_t item_id, control_def_proc procedure)
{
    if (!check_dialog(dialog)) return nullptr;
    control_data *other = nullptr;
    for (control_data *c = dialog->first_control; c; c = c->next)
    {
        if (c->item_id != item_id) continue;
        if (c->handler == procedure) return c;
        if (!other) other = c;
    }
    VASSERT(other, "control");
    return other;
}

control_data *get_first_dialog_control(const dialog_data *dialog)
{
    return check_dialog(dialog) ? dialog->first_control : nullptr;
}

int16_t get_dialog_item_count(const dialog_data *dialog)
{
    if (!check_dialog(dialog)) return 0;
    int16_t count = 0;
    for (const control_data *c = dialog->first_control; c; c = c->next) ++count;
    return count;
}

control_data *new_control(dialog_data *dialog, const file_control_data *definition, const char *text, int16_t base)
{
    if (!check_dialog(dialog) || !definition) return nullptr;
    const file_tag type = (file_tag)definition->tag;
    const control_def_proc handler = find_control_handler(type);
    const int16_t item_id = (int16_t)(definition->item_id + base);
    if (!handler)
    {
        log_message(__FILE__, __LINE__, "dialog '%s': item %d is of the control type '%s', which has no procedure; skipped",
                    tag_to_string(dialog->tag), (int)item_id, tag_to_string(type));
        return nullptr;
    }
    if (!reserve_idle_room(dialog_globals.open_dialog_count, dialog_globals.item_count + 1)) return nullptr;
    control_data *control = (control_data *)calloc(1, sizeof(control_data));
    if (!control) return nullptr;
    control->handler = handler;
    control->item_id = item_id;
    control->state = _control_unpressed;
    control->bounds = definition->bounds;
    control->keyboard_equivalent = control->keyboard_flag_mask = NONE;
    control->refcon = 0;
    control->flags = definition->flags;
    control->tag = type;
    control->next = dialog->first_control;
    dialog->first_control = control;
    dialog_globals.item_count += 1;
    dialog->item_list_changes += 1;

    file_control_data offset_definition = *definition;
    offset_definition.item_id = item_id;
    param_control_new_verb parameter = {&offset_definition, text ? text : ""};
    control->extra_data = (void *)handler(_control_new_verb, dialog, item_id, &parameter);
    if (!dialog_is_open(dialog) || lookup_control(dialog, item_id) != control) return nullptr;
    control->flags = 0; // the record's flags reach only the create verb
    handler(_control_new_completion_verb, dialog, item_id, nullptr);
    if (!dialog_is_open(dialog) || lookup_control(dialog, item_id) != control) return nullptr;
    if (handler(_control_requires_idle_time_verb, dialog, item_id, nullptr))
        if (dialog_is_open(dialog) && lookup_control(dialog, item_id) == control)
            control->flags |= _control_requires_idle_time_flag;
    return control;
}

control_data *new_unpressed_control(dialog_data *dialog, file_tag tag, int16_t item_id, const rectangle2d *bounds,
                                    const char *text)
{
    if (!check_dialog(dialog) || !bounds) return nullptr;
    file_control_data definition;
    memset(&definition, 0, sizeof(definition));
    definition.tag = (uint32_t)tag;
    definition.item_id = item_id;
    definition.bounds = *bounds;
    if (control_data *old = lookup_control(dialog, item_id))
    {
        remove_item(dialog, old);
        if (!dialog_is_open(dialog)) return nullptr;
    }
    control_data *control = new_control(dialog, &definition, text, 0);
    if (!control) return nullptr;
    control->flags |= _control_has_hardcoded_modifications_flag;
    set_dialog_item_dirty(dialog, item_id);
    return control;
}

void delete_control(dialog_data *dialog, int16_t item_id)
{
    control_data *control = find_control(dialog, item_id);
    if (control) remove_item(dialog, control);
}

void make_control_frontmost(dialog_data *dialog, int16_t item_id)
{
    control_data *control = find_control(dialog, item_id);
    if (!control) return;
    control_data **link = &dialog->first_control;
    while (*link != control) link = &(*link)->next;
    *link = control->next;
    control->next = nullptr;
    link = &dialog->first_control;
    while (*link) link = &(*link)->next;
    *link = control;
    dialog->item_list_changes += 1;
}

void get_dialog_item_bounds(const dialog_data *dialog, int16_t item_id, rectangle2d *bounds)
{
    if (!bounds) return;
    const control_data *control = find_control(dialog, item_id);
    *bounds = control ? control->bounds : rectangle2d{0, 0, 0, 0};
}

void set_dialog_item_bounds(dialog_data *dialog, int16_t item_id, const rectangle2d *bounds)
{
    control_data *control = find_control(dialog, item_id);
    if (!control || !bounds) return;
    const rectangle2d old = item_screen_bounds(dialog, control);
    control->bounds = *bounds;
    const rectangle2d now = item_screen_bounds(dialog, control);
    invalidate_on_dialog_and_front(dialog, &old);
    invalidate_on_dialog_and_front(dialog, &now);
}

void offset_dialog_item(dialog_data *dialog, int16_t item_id, int16_t dx, int16_t dy)
{
    const control_data *control = find_control(dialog, item_id);
    if (!control) return;
    rectangle2d r = control->bounds;
    r.left = (int16_t)(r.left + dx);
    r.right = (int16_t)(r.right + dx);
    r.top = (int16_t)(r.top + dy);
    r.bottom = (int16_t)(r.bottom + dy);
    set_dialog_item_bounds(dialog, item_id, &r);
}

void set_dialog_item_bounds_hard(dialog_data *dialog, int16_t item_id, const rectangle2d *bounds)
{
    control_data *control = find_control(dialog, item_id);
    if (!control || !bounds) return;
    control->flags |= _control_has_hardcoded_modifications_flag;
    set_dialog_item_bounds(dialog, item_id, bounds);
}

void mark_control_as_hardcoded(dialog_data *dialog, int16_t item_id)
{
    control_data *control = find_control(dialog, item_id);
    if (control) control->flags |= _control_has_hardcoded_modifications_flag;
}

// Hiding or disabling the item the button went down in, or whose press is
// pending, cancels the press.
static void cancel_press_of(dialog_data *dialog, control_data *control)
{
    const int16_t item_id = control->item_id;
    if (dialog->item_inside != item_id && dialog->item_clicked != item_id) return;
    if (dialog->item_inside == item_id) dialog->item_inside = NONE;
    if (dialog->item_clicked == item_id)
    {
        dialog->item_clicked = NONE;
        dialog->delay = 0;
        dialog->delay_was_set = false;
    }
    control->state = _control_unpressed;
    set_dialog_item_dirty(dialog, item_id);
}

void bitmap_set_item_visible(dialog_data *dialog, int16_t item_id, bool visible)
{
    control_data *control = find_control(dialog, item_id);
    if (!control) return;
    const bool was_visible = !(control->flags & _control_invisible_flag);
    if (was_visible == visible) return;
    if (visible) control->flags &= (uint16_t)~_control_invisible_flag;
    else
    {
        control->flags |= _control_invisible_flag;
        cancel_press_of(dialog, control);
    }
    param_control_accept_new_state_verb parameter = {-1, (int16_t)(visible ? 1 : 0)};
    control->handler(_control_accept_new_state_verb, dialog, item_id, &parameter);
    if (!dialog_is_open(dialog) || !(control = lookup_control(dialog, item_id))) return;
    if (dialog->text_target_item == item_id)
    {
        set_dialog_dirty(dialog);
    }
    else
    {
        const rectangle2d area = item_screen_bounds(dialog, control);
        invalidate_on_dialog_and_front(dialog, &area);
    }
}

void bitmap_set_item_enabled(dialog_data *dialog, int16_t item_id, bool enabled)
{
    if (!check_dialog(dialog)) return;
    control_data *control = lookup_control(dialog, item_id);
    if (!control)
    {
        char text[48];
        snprintf(text, sizeof(text), "Item %d doesn't exist", (int)item_id);
        VWARN(false, text);
        return;
    }
    const bool was_enabled = !(control->flags & _control_is_disabled_flag);
    if (was_enabled == enabled) return;
    if (enabled) control->flags &= (uint16_t)~_control_is_disabled_flag;
    else
    {
        control->flags |= _control_is_disabled_flag;
        cancel_press_of(dialog, control);
    }
    param_control_accept_new_state_verb parameter = {(int16_t)(enabled ? 1 : 0), -1};
    control->handler(_control_accept_new_state_verb, dialog, item_id, &parameter);
    if (dialog_is_open(dialog) && lookup_control(dialog, item_id)) set_dialog_item_dirty(dialog, item_id);
}

bool bitmap_get_item_visible(const dialog_data *dialog, int16_t item_id)
{
    const control_data *control = find_control(dialog, item_id);
    return control && !(control->flags & _control_invisible_flag);
}

bool bitmap_get_item_enabled(const dialog_data *dialog, int16_t item_id)
{
    const control_data *control = find_control(dialog, item_id);
    return control && !(control->flags & _control_is_disabled_flag);
}

file_tag get_bitmap_item_tag(const dialog_data *dialog, int16_t item_id)
{
    const control_data *control = find_control(dialog, item_id);
    return control ? control->tag : (file_tag)NONE;
}

void set_dialog_item_keyboard_equivalent(dialog_data *dialog, int16_t item_id, int16_t character, int16_t flag_number)
{
    control_data *control = find_control(dialog, item_id);
    if (!control) return;
    control->keyboard_equivalent = character;
    control->keyboard_flag_mask = flag_number;
}

void set_default_dialog_item(dialog_data *dialog, int16_t item_id)
{
    if (!check_dialog(dialog)) return;
    control_data *control = nullptr;
    if (item_id != NONE && !(control = find_control(dialog, item_id))) return;
    if (dialog->default_item != NONE && lookup_control(dialog, dialog->default_item))
        set_dialog_item_dirty(dialog, dialog->default_item);
    dialog->default_item = item_id;
    if (control)
    {
        control->keyboard_equivalent = control->keyboard_flag_mask = NONE;
        set_dialog_item_dirty(dialog, item_id);
    }
}

void set_dialog_cancel_item(dialog_data *dialog, int16_t item_id)
{
    if (!check_dialog(dialog)) return;
    if (item_id != NONE && !find_control(dialog, item_id)) return;
    if (dialog->cancel_item != NONE && lookup_control(dialog, dialog->cancel_item))
        set_dialog_item_dirty(dialog, dialog->cancel_item);
    dialog->cancel_item = item_id;
    if (item_id != NONE) set_dialog_item_dirty(dialog, item_id);
}

void *get_dialog_item_extra_data(const dialog_data *dialog, int16_t item_id)
{
    const control_data *control = find_control(dialog, item_id);
    return control ? control->extra_data : nullptr;
}

int32_t get_dialog_item_refcon(const dialog_data *dialog, int16_t item_id)
{
    const control_data *control = find_control(dialog, item_id);
    return control ? control->refcon : -1;
}

void set_dialog_item_refcon(dialog_data *dialog, int16_t item_id, int32_t refcon)
{
    control_data *control = find_control(dialog, item_id);
    if (control) control->refcon = refcon;
}

// ---- registration ----------------------------------------------------------------------------------

void register_dialog_hooks(void)
{
    register_vesk_controls();
    register_close_all_dialogs_procedure(close_all_dialogs);
    register_dialog_input_hooks();
    register_dialog_redraw_hooks();
}
