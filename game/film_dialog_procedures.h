#pragma once
// What the saved games and the dialogs' snapshot control ask of the film
// dialogs (game/film_dialogs), in one table the film dialogs register whole
// (`register_film_dialog_procedures`).  Dialogs are interface: no member may
// change the synchronized game.
//
// Every member may be null, and each is until the film dialogs register their table; the
// default of a null member is said beside it.  The table is kept by pointer:
// register a static record.  A null table, or a second one, is refused with an
// assertion and changes nothing.
//
// Main thread only; register before the main loop starts.

#include <cstddef>
#include <cstdint>

// What the save dialog answered: a name was chosen (copied into `name`, at
// most `name_size` - 1 characters), the player cancelled (nothing is saved,
// and that is no failure), or the dialog could not open (the save fails).
enum saved_game_name_result
{
    _saved_game_name_chosen,
    _saved_game_name_cancelled,
    _saved_game_name_dialog_failed
};

struct film_dialog_procedures
{
    // The save dialog: asks for the saved game's name (default `default_name`)
    // beside `snapshot`, the new picture (host order, `encoding` the screen
    // encoding).  Null member: a save without a name cannot be made;
    // create_saved_game(null) reports it and gives false.
    saved_game_name_result (*saved_game_name_dialog)(const char *default_name, const void *snapshot, int16_t width,
                                                     int16_t height, int16_t encoding, char *name, size_t name_size);
    // The load dialog: the chosen 'save' tag index, or NONE (null member:
    // nothing is chosen, so no saved game is continued).
    int32_t (*select_game_to_load)(void);
    // Reads a saved game's picture for the load dialog's snapshot control: its
    // pixels (malloc'd, the caller frees them), size and encoding; false when
    // it has none (null member: no picture is shown).
    bool (*read_save_game_snapshot)(int32_t tag_index, uint8_t **pixels, int16_t *width, int16_t *height,
                                    int16_t *encoding);
};

bool register_film_dialog_procedures(const film_dialog_procedures *procedures);
// Never null: an empty table until one is registered.
const film_dialog_procedures *get_film_dialog_procedures(void);
