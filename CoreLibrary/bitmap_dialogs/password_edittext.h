#pragma once
// The password control ('pass'): an edit-text control (edittext_control.h)
// whose record carries _edittext_is_password_flag from creation, so every
// byte is drawn and hit-tested as byte 165.  The dialog-level edit calls work
// on it as on an 'edit' item.  Main thread only.

#include <cstdint>

#include "bitmap_dialogs/bitmap_dialogs.h"

#define DIALOG_PASSWORD_EDITTEXT_TAG FOUR_CHARACTER_CODE('p', 'a', 's', 's')

// Adds the password flag to the definition's flags on the create verb and
// hands every verb to edittext_control_def_proc.
intptr_t password_control_def_proc(int16_t verb, dialog_data *dialog, int16_t item_id, void *parameter);
