// Registration of the game's own control types.

#include "register_vesk_controls.h"

#include "cseries/log.h"

#include "bitmap_dialogs/bitmap_controls.h"
#include "bitmap_dialogs/chat_list_control.h"
#include "bitmap_dialogs/entry_point_list_control.h"
#include "bitmap_dialogs/game_graphic_control.h"
#include "bitmap_dialogs/icon_popup_control.h"
#include "bitmap_dialogs/keybinding_control.h"
#include "bitmap_dialogs/missing_plugins_list_control.h"
#include "bitmap_dialogs/monster_status_control.h"
#include "bitmap_dialogs/player_list_control.h"
#include "bitmap_dialogs/plugin_list_control.h"
#include "bitmap_dialogs/prologue_control.h"
#include "bitmap_dialogs/snapshot_control.h"
#include "bitmap_dialogs/tag_list_control.h"

// The game's types in their order of registration; a type without a
// procedure here is filled by a later module (register_vesk_control_procedure)
// and left out until then (see register_dialog_controls).
static const struct
{
    file_tag tag;
    control_def_proc procedure;
} vesk_controls[] = {
    {FOUR_CHARACTER_CODE('c', 'h', 'a', 't'), chat_list_control_def_proc}, // chat list
    {FOUR_CHARACTER_CODE('p', 'l', 'l', 'i'), player_list_control_def_proc}, // player list
    {FOUR_CHARACTER_CODE('p', 'b', 'l', 'i'), nullptr}, // lobby buddy list
    {FOUR_CHARACTER_CODE('p', 'o', 'l', 'i'), nullptr}, // lobby order list
    {FOUR_CHARACTER_CODE('b', 'a', 'n', 'n'), nullptr}, // lobby banner
    {FOUR_CHARACTER_CODE('c', 'g', 'r', 'f'), nullptr}, // post-game graph
    {FOUR_CHARACTER_CODE('c', 's', 't', 't'), nullptr}, // post-game statistics list
    {FOUR_CHARACTER_CODE('c', 'h', 'e', 'd'), nullptr}, // post-game column header
    {FOUR_CHARACTER_CODE('r', 'o', 'o', 'm'), nullptr}, // lobby room graphic
    {FOUR_CHARACTER_CODE('g', 'a', 'm', 'e'), game_graphic_control_handler}, // game graphic
    {FOUR_CHARACTER_CODE('g', 'a', 'm', 'l'), nullptr}, // lobby game list
    {FOUR_CHARACTER_CODE('s', 'n', 'a', 'p'), snapshot_control_handler}, // saved-game snapshot
    {FOUR_CHARACTER_CODE('i', 'p', 'o', 'p'), icon_popup_control_def_proc}, // icon popup
    {FOUR_CHARACTER_CODE('S', 'T', 'A', 'T'), monster_status_control_handler}, // unit status
    {FOUR_CHARACTER_CODE('p', 'r', 'o', 'l'), prologue_control_def_proc}, // prologue page
    {FOUR_CHARACTER_CODE('k', 'e', 'y', 'b'), keybinding_control_def_proc}, // key binding
    {FOUR_CHARACTER_CODE('l', 's', 't', 'g'), tag_list_control_def_proc}, // tag list
    {FOUR_CHARACTER_CODE('r', 'e', 'p', 'o'), nullptr}, // post-game report
    {FOUR_CHARACTER_CODE('l', 's', 't', 'p'), plugin_list_control_def_proc}, // plug-in list
    {FOUR_CHARACTER_CODE('l', 's', 't', 'm'), entry_point_list_control_def_proc}, // entry point list
    {FOUR_CHARACTER_CODE('m', 'p', 'l', 'l'), missing_plugins_list_control_handler}, // missing plug-ins list
};

void register_vesk_controls(void)
{
    register_dialog_controls();
    for (const auto &entry : vesk_controls)
        if (entry.procedure) register_control_procedure(entry.tag, entry.procedure);
}

bool register_vesk_control_procedure(file_tag tag, control_def_proc procedure)
{
    // A type the table leaves open, filled by a later module; the control
    // types' list refuses a null procedure or a second one.
    for (const auto &entry : vesk_controls)
        if (entry.tag == tag)
            return VASSERT(!entry.procedure, "a control type of the table filled from outside") &&
                   register_control_procedure(tag, procedure);
    return VASSERT(false, "no such control type in the table");
}
