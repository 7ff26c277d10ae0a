#pragma once
// String lists ('stli'), dialog string lists ('ditl') and strings ('text'),
// read from the tag files on first use and kept until deleted, so that the
// indexes callers store stay valid across maps.  Delete a list to have the next
// lookup read it again, for example after other plug-ins are chosen.
//
// Stored layout of 'stli' and 'ditl' (big-endian, tag version 1):
//   u16 count, u16 reserved (0), count x u32 offsets from the start of the
//   data, then the texts, each ending with a zero byte inside the data.
// A 'text' tag is one text ending with a zero byte.
//
// Texts are bytes: they may hold carriage returns, styled-text escapes and
// double-byte characters.  Main thread only.

#include "cseries/cseries.h"

#define STRING_LIST_GROUP_TAG FOUR_CHARACTER_CODE('s', 't', 'l', 'i')
#define DIALOG_STRING_LIST_GROUP_TAG FOUR_CHARACTER_CODE('d', 'i', 't', 'l')
#define STRING_GROUP_TAG FOUR_CHARACTER_CODE('t', 'e', 'x', 't')

enum
{
    STRING_LIST_VERSION = 1,
    STRING_VERSION = 1,
    MAXIMUM_STRING_LISTS = 512, // lists, dialog lists and strings loaded at once
    // Larger tags (lists, dialog lists and texts, a text's terminator
    // included) are refused as corrupt; the data tool makes none larger.
    MAXIMUM_STRING_LIST_DATA_SIZE = MEG,
    STRING_LIST_HEADER_SIZE = 4,
};

// The index of the string list with tag `subgroup`, reading it when it is not
// loaded yet; NONE when there is none, when it is corrupt (code 10, logged
// once until the list is deleted) or when too many lists are loaded (code 13).
int32_t string_list_tag_to_string_index(tag subgroup);

// The same for the dialog string list of the dialog with tag `subgroup`.
int32_t dialog_string_list_tag_to_string_index(tag subgroup);

// The same for the string ('text') with tag `subgroup`.
int32_t string_tag_to_string_index(tag subgroup);

// Row `row` of the list at `list_index`, owned by the list and valid until it
// is deleted; "" for NONE, a negative row or a row at or beyond the count.
const char *get_string_from_list(int32_t list_index, int32_t row);

// The number of rows of the list; 0 for NONE or an index that holds no list.
int32_t count_strings_in_list(int32_t list_index);

// The text of the string at `string_index` ("" when there is none), with its
// length in bytes written to `length` when it is not null.
const char *get_string(int32_t string_index, int32_t *length);

// Releases the loaded list (or string) at `list_index` so that the next lookup
// reads it again.  Nothing for NONE or an index that holds nothing.  Texts the
// caller still holds from it become invalid.
void delete_string_list_definition(int32_t list_index);

// The same for the string list ('stli') with tag `subgroup`; nothing when none
// is loaded.
void delete_string_list_definition_tag(tag subgroup);

// Releases every loaded list and string (shut-down and tests).
void dispose_string_lists(void);

// The text in the player's language when the translation table holds it, else
// `text` itself.  The result belongs to the table (or is `text`): callers may
// keep the pointer as long as `text` lives.  The data sets carry no
// translation table: every text is its own.
const char *translate_string(const char *text);

// ---- the stored layout, for tools, tests and the fuzzer -------------------

// Checks list data of `size` bytes as stored: the count and offsets fit, every
// offset points past the offset table at a text that ends inside the data.
// Returns the count, or NONE when the data are not a valid list.
int32_t validate_string_list_data(const void *data, int32_t size);

// Writes the stored form of `count` texts into `buffer` (`size` bytes) and
// returns the bytes used; with a null buffer returns the bytes needed.  NONE
// when the list does not fit the buffer, a count is beyond 65535 or the data
// would exceed MAXIMUM_STRING_LIST_DATA_SIZE.
int32_t encode_string_list_data(const char *const *texts, int32_t count, void *buffer, int32_t size);
