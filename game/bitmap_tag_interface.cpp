// The tag dialogs.

#include "bitmap_tag_interface.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <vector>

#include "bitmap_dialogs/button_control.h"
#include "bitmap_dialogs/edittext_control.h"
#include "bitmap_dialogs/list_control.h"
#include "bitmap_dialogs/tag_list_control.h"
#include "cseries/cstrings.h"
#include "cseries/log.h"
#include "ingame_dialog_support.h"
#include "tag_files/tag_files.h"
#include "vesk/string_lists.h"

// ---- names ---------------------------------------------------------------------------------

bool tag_name_may_be_accepted(const char *name, const char *name_to_differ_from)
{
    if (!name || name[0] == '.') return false;
    bool graphic = false;
    for (const char *c = name; *c; ++c)
        if (isgraph((unsigned char)*c)) graphic = true;
    if (!graphic) return false;
    return !name_to_differ_from || strcmp(name, name_to_differ_from) != 0;
}

bool tag_name_is_safe(const char *name)
{
    if (!name || !*name || strlen(name) > MAXIMUM_TAG_DIALOG_NAME_LENGTH) return false;
    if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
    for (const char *c = name; *c; ++c)
        if (*c == '/' || *c == '\\' || iscntrl((unsigned char)*c)) return false;
    return true;
}

const char *tag_name_refusal(const char *name, const char *name_to_differ_from)
{
    if (tag_name_may_be_accepted(name, name_to_differ_from) && tag_name_is_safe(name)) return nullptr;
    bool graphic = false, separator = false, control = false;
    for (const char *c = name ? name : ""; *c; ++c)
    {
        graphic = graphic || isgraph((unsigned char)*c);
        separator = separator || *c == '/' || *c == '\\';
        control = control || iscntrl((unsigned char)*c);
    }
    if (!graphic) return translate_string("Type a name.");
    if (name[0] == '.') return translate_string("A name cannot begin with \".\".");
    if (separator) return translate_string("A name cannot hold \"/\" or \"\\\".");
    if (control) return translate_string("A name cannot hold a control character.");
    if (strlen(name) > MAXIMUM_TAG_DIALOG_NAME_LENGTH) return translate_string("A name has at most 31 characters.");
    return translate_string("Choose another name.");
}

int32_t find_tag_named_ignoring_case(tag group, const char *name)
{
    tag_file_info filter;
    tag_file_info_new(&filter);
    filter.group_tag = group;
    // Every tag of the group, however many the player keeps.
    const int32_t count = tag_file_enumerate(&filter, nullptr, -1);
    if (count <= 0) return NONE;
    std::vector<int32_t> indexes((size_t)count);
    const int32_t found = tag_file_enumerate(&filter, indexes.data(), count);
    for (int32_t i = 0; i < found && i < count; ++i)
        if (strcasecmp(tag_file_full_filename_get(indexes[(size_t)i]), name) == 0) return indexes[(size_t)i];
    return NONE;
}

// The prompt of `row` for the group, formatted with `name` when its
// conversions are one string; a prompt with other conversions is shown raw.
static void format_prompt(char *buffer, int32_t size, tag group, int16_t row, const char *name)
{
    const int32_t list = string_list_tag_to_string_index(TAG_PROMPTS_STRING_LIST_TAG);
    if (!VASSERT(list != NONE, "string_list_index != NONE"))
    {
        snprintf(buffer, (size_t)size, "%s", name);
        return;
    }
    const int16_t group_row = group == SAVED_GAME_GROUP_TAG ? row : (int16_t)(row + _tag_prompt_replace_other);
    const char *format = get_string_from_list(list, group_row);
    format_checked_line(buffer, size, format ? format : "", "s", name);
}

// ---- questions -------------------------------------------------------------------------------

// A yes/no question: item 3 shows the text, item 1 answers yes, 2 no.
static bool ask(file_tag subgroup, const char *text)
{
    dialog_data *dialog = new_dialog_if_present(subgroup, "question", nullptr,
                                                _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return false;
    set_dialog_background_from(dialog, TAG_QUESTION_COLLECTION_TAG, 0);
    set_dialog_item_text(dialog, _tag_dialog_name_item, text);
    set_default_dialog_item(dialog, _tag_dialog_ok_item);
    set_dialog_cancel_item(dialog, _tag_dialog_cancel_item);
    const bool yes = run_dialog_until_ok_or_cancel(dialog, _tag_dialog_ok_item, _tag_dialog_cancel_item) ==
                     _tag_dialog_ok_item;
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return yes;
}

bool unique_name_or_desires_replacement(tag group, const char *name)
{
    if (!name) return false;
    if (find_tag_named_ignoring_case(group, name) == NONE) return true;
    char prompt[MAXIMUM_TAG_QUESTION_LENGTH + 1];
    format_prompt(prompt, sizeof(prompt), group, _tag_prompt_replace_save, name);
    return ask(TAG_REPLACE_DIALOG_TAG, prompt);
}

bool sure_you_want_to_delete(int32_t tag_index, tag group)
{
    tag_file_info info;
    if (!tag_file_info_get(tag_index, &info)) return false;
    char prompt[256];
    format_prompt(prompt, sizeof(prompt), group, _tag_prompt_delete_save, tag_file_name_get(tag_index));
    return ask(TAG_DELETE_DIALOG_TAG, prompt);
}

// ---- the name dialog ---------------------------------------------------------------------------

struct name_dialog_state
{
    dialog_data *dialog;
    const char *name_to_differ_from;
    int32_t selected; // the list's selection last copied into the name
    const char *shown_refusal; // the reason item 6 shows ("" before any)
};

static void typed_name(const dialog_data *dialog, char *name, int32_t size)
{
    name[0] = 0;
    get_bitmap_dialog_edit_item_text(dialog, _tag_dialog_name_item, name, size);
}

// Every pass and action: a tag picked in the list gives its name; OK is
// enabled only for a name that may be accepted, and otherwise the reason
// item says why (a greyed button alone leaves the player guessing).
static bool name_dialog_pass(void *data, action_data *)
{
    auto *state = (name_dialog_state *)data;
    dialog_data *dialog = state->dialog;
    if (!dialog_is_open(dialog)) return false;
    if (dialog_has_item(dialog, _tag_dialog_list_item) &&
        get_bitmap_item_tag(dialog, _tag_dialog_list_item) == DIALOG_TAG_LIST_TAG)
    {
        const int32_t picked = get_tag_list_selected_header(dialog, _tag_dialog_list_item);
        if (picked != NONE && picked != state->selected)
            set_bitmap_dialog_edit_item_text(dialog, _tag_dialog_name_item, tag_file_name_get(picked));
        state->selected = picked;
    }
    char name[MAXIMUM_TAG_DIALOG_NAME_LENGTH + 1];
    typed_name(dialog, name, sizeof(name));
    const char *refusal = tag_name_refusal(name, state->name_to_differ_from);
    const bool acceptable = refusal == nullptr;
    if (bitmap_get_item_enabled(dialog, _tag_dialog_ok_item) != acceptable)
        enable_dialog_item(dialog, _tag_dialog_ok_item, acceptable);
    if (!refusal) refusal = "";
    if (refusal != state->shown_refusal) set_dialog_item_text(dialog, _tag_dialog_reason_item, refusal);
    state->shown_refusal = refusal;
    return false;
}

// OK or cancel; a loop that ended without an item counts as cancel, so it never spins.
static int16_t run_name_dialog(name_dialog_state *state)
{
    for (;;)
    {
        const int16_t item = custom_modal_dialog(state->dialog, state, name_dialog_pass);
        if (item == NONE || !dialog_is_open(state->dialog)) return _tag_dialog_cancel_item;
        if (item == _tag_dialog_ok_item || item == _tag_dialog_cancel_item) return item;
    }
}

// The heading of a name dialog its caller gave none: what is being named,
// and whether it is new or renamed, so the box never opens without one.
static const char *default_name_prompt(tag group, bool renaming)
{
    if (group == RECORDING_GROUP_TAG) return translate_string(renaming ? "Rename the film:" : "Save the film as:");
    if (group == SAVED_GAME_GROUP_TAG) return translate_string(renaming ? "Rename the saved game:" : "Save the game as:");
    return translate_string(renaming ? "Rename:" : "Name:");
}

static dialog_data *open_name_dialog(const char *prompt, tag group, const char *name, bool renaming)
{
    dialog_data *dialog = new_dialog_if_present(TAG_PUT_DIALOG_TAG, "tag name", nullptr,
                                                _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return nullptr;
    if (!dialog_has_item(dialog, _tag_dialog_name_item) || get_bitmap_item_tag(dialog, _tag_dialog_name_item) != EDITTEXT_CONTROL_TAG)
    {
        log_message(__FILE__, __LINE__, "the tag name dialog lacks its name field: not shown");
        dispose_dialog(dialog);
        return nullptr;
    }
    set_dialog_background_from(dialog, TAG_PUT_COLLECTION_TAG, 0);
    set_dialog_item_text(dialog, _tag_dialog_prompt_item, prompt && *prompt ? prompt : default_name_prompt(group, renaming));
    set_bitmap_dialog_edit_item_maximum_length(dialog, _tag_dialog_name_item, MAXIMUM_TAG_DIALOG_NAME_LENGTH);
    set_bitmap_dialog_edit_item_text(dialog, _tag_dialog_name_item, name ? name : "");
    if (dialog_has_item(dialog, _tag_dialog_list_item) &&
        get_bitmap_item_tag(dialog, _tag_dialog_list_item) == DIALOG_TAG_LIST_TAG)
    {
        append_tags_to_tag_list(dialog, _tag_dialog_list_item, group, nullptr, nullptr, true);
        bitmap_clear_selections(dialog, _tag_dialog_list_item);
        bitmap_set_listbox_doubleclick_itemhit(dialog, _tag_dialog_list_item, _tag_dialog_ok_item);
    }
    set_default_dialog_item(dialog, _tag_dialog_ok_item);
    set_dialog_cancel_item(dialog, _tag_dialog_cancel_item);
    set_dialog_focus(dialog, _tag_dialog_name_item);
    return dialog;
}

// The name typed when OK was pressed, when it may name a tag of the group
// (unique, or its replacement agreed); false to ask again.
static bool accepted_name(dialog_data *dialog, tag group, const name_dialog_state &state, const char *unchanged,
                          char *name, int32_t size)
{
    typed_name(dialog, name, size);
    if (!tag_name_may_be_accepted(name, state.name_to_differ_from)) return false;
    if (!tag_name_is_safe(name))
    {
        log_message(__FILE__, __LINE__, "the name \"%s\" cannot name a file (a path separator, a control character, "
                    "\".\" or \"..\"): refused", name);
        return false;
    }
    if (unchanged && strcmp(name, unchanged) == 0) return true;
    return unique_name_or_desires_replacement(group, name);
}

int32_t bitmap_standard_put_tag(const char *prompt, tag group, const char *default_name, int16_t type,
                                const char *name_to_differ_from)
{
    dialog_data *dialog = open_name_dialog(prompt, group, default_name, false);
    if (!dialog) return NONE;
    name_dialog_state state = {dialog, name_to_differ_from, NONE, ""};
    int32_t result = NONE;
    char name[MAXIMUM_TAG_DIALOG_NAME_LENGTH + 1];
    while (run_name_dialog(&state) == _tag_dialog_ok_item)
    {
        if (!accepted_name(dialog, group, state, nullptr, name, sizeof(name))) continue;
        result = tag_file_new(group, name, type);
        if (result == NONE) log_message(__FILE__, __LINE__, "the tag \"%s\" could not be made", name);
        break;
    }
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return result;
}

bool bitmap_rename_tag(int32_t *tag_index, const char *prompt, tag group)
{
    if (!tag_index || *tag_index == NONE) return false;
    char current[MAXIMUM_TAG_DIALOG_NAME_LENGTH + 1];
    snprintf(current, sizeof(current), "%s", tag_file_name_get(*tag_index));
    dialog_data *dialog = open_name_dialog(prompt, group, current, true);
    if (!dialog) return false;
    if (get_bitmap_item_tag(dialog, _tag_dialog_ok_item) == BUTTON_CONTROL_TAG)
        set_button_control_name(dialog, _tag_dialog_ok_item, translate_string("Rename"));
    name_dialog_state state = {dialog, nullptr, NONE, ""};
    bool renamed = false;
    char name[MAXIMUM_TAG_DIALOG_NAME_LENGTH + 1];
    while (run_name_dialog(&state) == _tag_dialog_ok_item)
    {
        if (!accepted_name(dialog, group, state, current, name, sizeof(name))) continue;
        if (strcmp(name, current) == 0) break;
        // A name another tag has is refused by the store: the other tag is
        // never lost to a rename.
        renamed = tag_file_name_set(tag_index, name);
        if (!renamed) log_message(__FILE__, __LINE__, "'%s' could not be renamed \"%s\"", current, name);
        break;
    }
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return renamed;
}

// ---- picking -------------------------------------------------------------------------------------

struct get_filter
{
    tag_dialog_filter_proc filter;
    void *argument;
};

static bool passes_filter(int32_t tag_index, void *context)
{
    const auto *filter = (const get_filter *)context;
    return !filter->filter || filter->filter(tag_index, filter->argument);
}

int32_t bitmap_standard_get_tag(const char *prompt, tag group, tag_dialog_filter_proc filter, void *filter_argument)
{
    dialog_data *dialog = new_dialog_if_present(TAG_GET_DIALOG_TAG, "tag choice", nullptr,
                                                _dialog_has_bevel_flag | _dialog_is_centered_flag);
    if (!dialog) return NONE;
    if (!dialog_has_item(dialog, _tag_dialog_list_item) ||
        get_bitmap_item_tag(dialog, _tag_dialog_list_item) != DIALOG_TAG_LIST_TAG)
    {
        log_message(__FILE__, __LINE__, "the tag choice dialog lacks its list: not shown");
        dispose_dialog(dialog);
        return NONE;
    }
    set_dialog_background_from(dialog, TAG_PUT_COLLECTION_TAG, 0);
    set_dialog_item_text(dialog, _tag_dialog_name_item, prompt ? prompt : "");
    get_filter context = {filter, filter_argument};
    append_tags_to_tag_list(dialog, _tag_dialog_list_item, group, passes_filter, &context, true);
    bitmap_set_listbox_doubleclick_itemhit(dialog, _tag_dialog_list_item, _tag_dialog_ok_item);
    set_default_dialog_item(dialog, _tag_dialog_ok_item);
    set_dialog_cancel_item(dialog, _tag_dialog_cancel_item);
    const int32_t chosen =
        run_dialog_until_ok_or_cancel(dialog, _tag_dialog_ok_item, _tag_dialog_cancel_item) == _tag_dialog_ok_item
            ? get_tag_list_selected_header(dialog, _tag_dialog_list_item)
            : NONE;
    if (dialog_is_open(dialog)) dispose_dialog(dialog);
    return chosen;
}

// ---- the film dialogs' and films' procedures ---------------------------------------------------

static tag group_of(int32_t tag_index)
{
    tag_file_info info;
    return tag_file_info_get(tag_index, &info) ? info.group_tag : (tag)NONE;
}

bool confirm_tag_deletion(int32_t tag_index) { return sure_you_want_to_delete(tag_index, group_of(tag_index)); }

bool rename_tag_from_dialog(int32_t *tag_index)
{
    if (!tag_index) return false;
    return bitmap_rename_tag(tag_index, "", group_of(*tag_index));
}

int32_t save_tag_from_dialog(const char *prompt, tag group, const char *default_name, int16_t version,
                             const char *replaced_name)
{
    return bitmap_standard_put_tag(prompt, group, default_name, version, replaced_name);
}
