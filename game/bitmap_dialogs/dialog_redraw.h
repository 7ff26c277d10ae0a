#pragma once
// Dialog redraw beyond the calls of bitmap_dialogs.h: the in-game bars'
// predicates, which the bars register when they exist, and the drawing of a
// dialog into its internal bitmap, which the translucent bars use in software
// and a hardware back end uses for every dialog.
//
// Main thread only.

#include "bitmap_dialogs/bitmap_dialogs.h"

// The control bar and the status bar say which dialogs they are, through their
// table (ingame_bar_procedures.h), so that the software redraw copies them
// translucently when the game preferences ask for translucent bars.  Until
// they register no dialog is a bar.

// Brings the dialog's internal bitmap up to date: makes it at the dialog's
// size in `encoding` when it has none (or one of another size or encoding:
// the whole dialog is then marked dirty), clears the dirty area to 0 first for
// a dialog with _dialog_is_transparent_flag, and draws the dialog's dirty part
// into it (draw_dialog_into_bitmap).  False, with the dirt kept, when the
// bitmap cannot be made or the dialog is bad or hidden.
bool draw_dialog_into_internal_bitmap(dialog_data *dialog, int16_t encoding);
