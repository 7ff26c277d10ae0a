#pragma once
// The tag dialogs: picking, naming, renaming and deleting films and saved
// games.  'stgt' picks a tag, 'stpt' names a new one (or renames one),
// 'suyw' asks whether a tag of the same name may be replaced, 'su01' whether
// a tag may be deleted.  The prompts come from the string list '!pri'.
//
// Main thread only.

#include <cstdint>

#include "cseries/cseries.h"

#define TAG_GET_DIALOG_TAG FOUR_CHARACTER_CODE('s', 't', 'g', 't')
#define TAG_PUT_DIALOG_TAG FOUR_CHARACTER_CODE('s', 't', 'p', 't')
#define TAG_REPLACE_DIALOG_TAG FOUR_CHARACTER_CODE('s', 'u', 'y', 'w')
#define TAG_DELETE_DIALOG_TAG FOUR_CHARACTER_CODE('s', 'u', '0', '1')
#define TAG_PUT_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 's', 'h')
#define TAG_QUESTION_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'b')
#define TAG_PROMPTS_STRING_LIST_TAG FOUR_CHARACTER_CODE('!', 'p', 'r', 'i')

enum tag_dialog_item
{
    _tag_dialog_ok_item = 1,
    _tag_dialog_cancel_item = 2,
    _tag_dialog_name_item = 3,   // put: the name; get, questions: the prompt
    _tag_dialog_list_item = 4,
    _tag_dialog_prompt_item = 5, // put: the prompt
    _tag_dialog_reason_item = 6, // put: why the name cannot be taken (optional)
};

enum tag_prompt_row
{
    _tag_prompt_replace_save = 0,
    _tag_prompt_delete_save = 1,
    _tag_prompt_replace_other = 2,
    _tag_prompt_delete_other = 3,
};

enum
{
    MAXIMUM_TAG_DIALOG_NAME_LENGTH = 31,
    MAXIMUM_TAG_QUESTION_LENGTH = 100,
};

typedef bool (*tag_dialog_filter_proc)(int32_t tag_index, void *argument);

// The selected tag of `group` that passes `filter` (all when null), or NONE.
int32_t bitmap_standard_get_tag(const char *prompt, tag group, tag_dialog_filter_proc filter, void *filter_argument);
// Asks for a name (default `default_name`) and creates a tag of `group` with
// tag version `type`; its index, or NONE when cancelled, refused or the tag
// could not be made.  `name_to_differ_from` (may be null) is a name the new
// one may not have.  An empty or null `prompt` heads the dialog with what is
// named ("Save the film as:"); the rename below does the same.
int32_t bitmap_standard_put_tag(const char *prompt, tag group, const char *default_name, int16_t type,
                                const char *name_to_differ_from);
// Asks for a new name and renames the tag; true when it was renamed
// (`*tag_index` then names it).
bool bitmap_rename_tag(int32_t *tag_index, const char *prompt, tag group);
// True when no tag of the group has the name (ignoring case), or when the
// player agrees to replace it.
bool unique_name_or_desires_replacement(tag group, const char *name);
// Whether the player confirms deleting the tag.
bool sure_you_want_to_delete(int32_t tag_index, tag group);

// Whether a typed name may be pressed OK on: it has a graphic character, does
// not start with '.', and differs from `name_to_differ_from` (when given).
bool tag_name_may_be_accepted(const char *name, const char *name_to_differ_from);
// Whether a name can be a film or saved game's file: at most 31 characters,
// no '/', '\\' or control character, and neither "." nor "..".
bool tag_name_is_safe(const char *name);
// Why OK cannot be pressed on a typed name, in words for the player (a
// static text), or null when it can: the name must pass both checks above.
const char *tag_name_refusal(const char *name, const char *name_to_differ_from);
// The tag of `group` whose full file name equals `name` ignoring case, among
// every tag of the group; NONE when none.
int32_t find_tag_named_ignoring_case(tag group, const char *name);

// The film dialogs' confirmations (front_end_procedures.h).
bool confirm_tag_deletion(int32_t tag_index);
bool rename_tag_from_dialog(int32_t *tag_index);
// save_last_replay's dialog (front_end_procedures.h).
int32_t save_tag_from_dialog(const char *prompt, tag group, const char *default_name, int16_t version,
                             const char *replaced_name);
