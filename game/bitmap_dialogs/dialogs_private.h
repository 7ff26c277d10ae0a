#pragma once
// What the dialog layer's own files share: the open-dialog list, the dispatch
// bracket that keeps a dialog disposed by its own handler alive until the
// dispatch ends, the cookie check, and the hooks each file registers.
// Nothing outside game/bitmap_dialogs/ includes this header.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

// The dirty bounds of a dialog with nothing to redraw: any rectangle joined
// to them gives that rectangle.
constexpr rectangle2d empty_dirty_bounds = {32767, 32767, -32768, -32768};

// ---- the open-dialog list (bitmap_dialogs.cpp) ----------------------------------

// The head of the list: the back dialog, drawn first.  Walk with ->next.
dialog_data *get_first_dialog(void);
// The tail of the list: the front dialog, which sees input first.  Walk with ->prev.
dialog_data *get_last_dialog(void);

// Whether `dialog` is an open dialog (still linked in the list).  Never
// dereferences it: safe on a pointer that a handler may have disposed.
bool dialog_is_open(const dialog_data *dialog);

// The cookie check every call makes: false, with the assertion
// "dialog->cookie== DIALOG_COOKIE" logged, for NULL, a foreign record or a
// dialog that was disposed (its cookie is cleared on disposal, even while
// its memory is kept until the dispatch ends).
bool check_dialog(const dialog_data *dialog);

// The item with that identifier, NULL when missing; logs nothing.
control_data *lookup_control(const dialog_data *dialog, int16_t item_id);

// ---- loading from bytes (bitmap_dialogs.cpp) ---------------------------------------
// What new_dialog and append_ditl do after reading the tag, for the fuzz
// target and tests: `data` is the whole stored tag of `size` bytes, never read
// past; `string_list_index` the dialog string list (NONE: inline texts).

// False, with a code-10 log line, for a tag that is refused.
bool load_controls_from_tag_data(dialog_data *dialog, file_tag tag, const void *data, int32_t size,
                                 int32_t string_list_index, int16_t base, bool load_bounds);
// new_dialog over stored bytes; NULL when refused or out of memory.
dialog_data *new_dialog_from_tag_data(file_tag tag, const void *data, int32_t size, int32_t string_list_index,
                                      dialog_handler_proc handler, dialog_inhibition_proc inhibitor,
                                      int16_t sleep_time, uint16_t flags);

// Makes the next use read the "UI" section again (tests).
void forget_dialog_settings(void);

// DebugControlBounds of the power-user INI section "UI" (read once with the
// section's other keys; default false).
bool dialog_debug_control_bounds(void);

// ---- dispatch (bitmap_dialogs.cpp) ------------------------------------------------
// Input and idle code that calls handlers brackets its walk with these.  A
// dialog disposed inside the bracket is unlinked, its items disposed and its
// cookie cleared at once; its record is freed only when the outermost bracket
// ends.  After a handler returns, check dialog_is_open before touching the
// dialog again.  Brackets nest.
void begin_dialog_dispatch(void);
void end_dialog_dispatch(void);

// ---- the modal dialog (dialog_modal.cpp) -----------------------------------------

// The dialog that modal_dialog runs, NULL when none.
dialog_data *get_modal_dialog(void);
// Records the item that fired in the modal dialog (ends its loop).
void set_modal_item_hit(int16_t item_id);

// ---- redraw (dialog_redraw.cpp) -------------------------------------------------

// True while a dialog is being drawn: marks made then are logged and kept
// for the next frame.
bool is_drawing_dialog(void);

// ---- registration -----------------------------------------------------------------
// Called by register_dialog_hooks.

// dialog_input.cpp and dialog_modal.cpp: fills the core's action consumers
// _action_modal_loop and _action_dialogs.
void register_dialog_input_hooks(void);
// dialog_redraw.cpp: fills the screen's dialog drawing pair.
void register_dialog_redraw_hooks(void);
