// Texts over units.
#include "overhead_text.h"

#include <cstdint>
#include <cstring>

#include "overhead_text_procedures.h"
#include "cseries/log.h"
#include "bitmap_text.h"
#include "game_hooks.h"
#include "interface_definitions.h"
#include "monster_life.h"
#include "monsters.h"
#include "tag_files/data.h"

static struct overhead_text_globals
{
    datum_globals texts;
} overhead_text_globals = {
    .texts = {.name = "overhead text", .size = sizeof(overhead_text_data), .maximum_count = MAXIMUM_OVERHEAD_TEXT_PER_MAP},
};

// ---- life cycle -----------------------------------------------------------------------

void initialize_overhead_text(void)
{
    // Start-up runs once in the game; tests may run it again.
    if (!overhead_text_globals.texts.blocks) initialize_data(&overhead_text_globals.texts);
}

void initialize_overhead_text_for_new_map(void)
{
    if (overhead_text_globals.texts.blocks) initialize_data_for_new_map(&overhead_text_globals.texts);
}

void dispose_overhead_text_from_old_map(void)
{
    if (overhead_text_globals.texts.blocks) dispose_data_from_old_map(&overhead_text_globals.texts);
}

// ---- records --------------------------------------------------------------------------

overhead_text_data *get_overhead_text(int32_t overhead_text_index)
{
    datum_globals *texts = &overhead_text_globals.texts;
    if (!texts->blocks || overhead_text_index < 0 || overhead_text_index >= texts->capacity) return nullptr;
    return (overhead_text_data *)get_datum(texts, overhead_text_index);
}

datum_globals *get_overhead_text_data_array(void)
{
    return &overhead_text_globals.texts;
}

int32_t new_overhead_text(const overhead_text_data *data)
{
    datum_globals *texts = &overhead_text_globals.texts;
    if (!data || !texts->blocks) return NONE;
    const int32_t index = new_datum(texts);
    if (index == NONE)
    {
        log_message(__FILE__, __LINE__, "no room for another overhead text (all %d are used)",
                    (int)MAXIMUM_OVERHEAD_TEXT_PER_MAP);
        return NONE;
    }
    overhead_text_data *text = (overhead_text_data *)get_datum(texts, index);
    const int16_t identifier = text->identifier;
    memcpy(text, data, sizeof(*text));
    text->identifier = identifier;
    return index;
}

static void free_overhead_text(int32_t index, overhead_text_data *text)
{
    if (text->monster_index != NONE)
    {
        monster_data *monster = get_monster_data(text->monster_index);
        if (monster && monster->current_overhead_text_index == index) monster->current_overhead_text_index = NONE;
        text->monster_index = NONE;
    }
    delete_datum(&overhead_text_globals.texts, index);
}

void delete_overhead_text(int32_t overhead_text_index)
{
    overhead_text_data *text = get_overhead_text(overhead_text_index);
    if (!VWARN(text != nullptr, "no overhead text to delete")) return;
    free_overhead_text(overhead_text_index, text);
}

void update_overhead_text(void)
{
    datum_globals *texts = &overhead_text_globals.texts;
    if (!texts->blocks) return;
    data_iterator iterator = data_iterator_new(texts);
    while (overhead_text_data *text = (overhead_text_data *)data_iterator_next(&iterator))
    {
        // A timer near the bottom of its range must not wrap to a long life.
        if (text->timer > INT32_MIN) text->timer -= 1;
        if (text->timer < 1) free_overhead_text(iterator.index, text);
    }
}

// ---- hooks ----------------------------------------------------------------------------

static bool startup_overhead_text(void)
{
    initialize_overhead_text();
    return true;
}

static bool overhead_text_map_step(const new_game_data *)
{
    initialize_overhead_text_for_new_map();
    return true;
}

// A script's text is drawn in the font its tag names when that font can be
// loaded, else in interface font 1; an unknown tag is no error here.
static int32_t overhead_text_font(tag font_tag)
{
    if (font_tag != (tag)NONE && font_definitions.registered && font_definitions.count != NONE)
    {
        const int32_t font_index =
            try_definition_tag_to_index(&font_definitions, font_tag, true, _definition_lookup_quiet_flag);
        if (font_index != NONE) return font_index;
    }
    return get_interface_font_index(1);
}

void register_overhead_text_hooks(void)
{
    register_startup_procedure(_startup_overhead_text, startup_overhead_text);
    register_map_procedures(_map_overhead_text, overhead_text_map_step, dispose_overhead_text_from_old_map);
    register_tick_procedure(_tick_overhead_text, update_overhead_text);
    static const overhead_text_procedures procedures = {
        .new_overhead_text = new_overhead_text,
        .delete_overhead_text = delete_overhead_text,
        .overhead_text_font = overhead_text_font,
    };
    register_overhead_text_procedures(&procedures);
}
