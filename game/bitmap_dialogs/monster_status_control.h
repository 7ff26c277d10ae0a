#pragma once
// The unit status line ('STAT') of the status bar: the selected unit's name
// and type at the left; from the right edge leftwards its ammunition count
// and icon, its carried item's count and icon, and its experience as rows of
// small icons (battles survived, then experience) or as a number and one
// icon when the icons do not fit.
//
// The status bar fills it through set_status_control_data whenever the
// selection changes; the record is the caller's exchange record too.  A
// double click toggles showing every experience icon, and the game
// preference follows.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define MONSTER_STATUS_CONTROL_TAG FOUR_CHARACTER_CODE('S', 'T', 'A', 'T')

enum
{
    STATUS_CONTROL_STRING_SIZE = 256,
    SPACE_BETWEEN_NAME_AND_TYPE = 10,
    AMMUNITION_COUNT_WIDTH = 45,
    AMMUNITION_AND_EXPERIENCE_SEPARATION = 10,
    ITEM_AND_EXPERIENCE_SEPARATION = 10,
    BATTLES_SURVIVED_AND_EXPERIENCE_SEPARATION = 10,
    EXPERIENCE_ICON_SEPARATION = 2,
    // Without full veterans at most this many icons of one row are drawn.
    MAXIMUM_EXPERIENCE_ICONS = 9,
    // From this count up the number reads "250+".
    EXPERIENCE_COUNT_CAP = 250,
    // The sequence of the experience icon collection whose views are the allegiances.
    EXPERIENCE_ICON_SEQUENCE = 2,
};

// The control's extra data and the caller's exchange record.  Compared field
// by field (never byte for byte, so padding never counts as a change).
struct status_control_data
{
    char name[STATUS_CONTROL_STRING_SIZE]; // terminated; "" draws nothing
    char type[STATUS_CONTROL_STRING_SIZE];
    bool show_full_vets;                   // every experience icon instead of at most 9
    int16_t experience;
    int16_t battles_survived;
    int16_t experience_allegiance;         // view of the experience icons; NONE: no experience shown
    int16_t ammunition_count;
    int16_t ammunition_collection_index;   // NONE: no ammunition shown
    int16_t ammunition_sequence_index;
    int16_t ammunition_shading_table_index;
    int16_t item_collection_index;         // NONE: no item shown
    int16_t item_sequence_index;
    int16_t item_shading_table_index;
    int16_t item_count;                    // negative: a percentage
    int16_t random_seed;                   // bitmap of every icon (the k-th experience icon: + k)
    int16_t collection_index;              // the experience icon collection; NONE: no experience shown
    rgb_color color;                       // the text's
};

// The control procedure (bitmap_controls.h has the verbs).  Create: a zeroed
// record with no experience, ammunition or item, white text, full veterans
// from the game preference and no icon collection.  Click: a double click
// toggles full veterans, redraws and sets the game preference to match;
// answers 0 (never fires).  Draw: the line described above.
intptr_t monster_status_control_handler(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);

// Stores `updated` and redraws when it differs from the stored record in any
// field; true then, false when nothing changed or the item is not a status
// line (logged).  Names and types are cut to 255 characters.
bool set_status_control_data(dialog_data *dialog, int16_t item_id, const status_control_data *updated);

// Copies the stored record into `data`; false (nothing copied) when the item
// is not a status line.
bool get_status_control_data(const dialog_data *dialog, int16_t item_id, status_control_data *data);

// Whether two records differ in any field (the texts up to their terminators).
bool status_control_data_differ(const status_control_data *a, const status_control_data *b);

// The count fields' texts: "%d", "%dk" (thousands) above 9999; for items a
// negative count is a percentage ("40%" for -40).  `size` bytes of `buffer`.
void format_status_control_count(char *buffer, int32_t size, int32_t count, bool percentage_when_negative);
