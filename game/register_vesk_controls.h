#pragma once
// Registration of the game's own control types.

#include "bitmap_dialogs/bitmap_dialogs.h"

// Registers the core control types, then the game's own (results ignored).
// Called once at start-up, before any dialog exists (register_dialog_hooks).
void register_vesk_controls(void);

// The procedure of a type the table lists without one (a control of a later
// subsystem, such as the post-game report's): kept in the table and added
// to the registry at once.  Refused (assertion) for a code the table does
// not list, a null procedure or a type that has another already.
bool register_vesk_control_procedure(file_tag tag, control_def_proc procedure);
