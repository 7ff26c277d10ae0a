#pragma once
// The blood lock: a password the player chooses guards the censorship
// setting.  Locking ('nobp') asks for the password twice; unlocking ('nobu')
// asks for it once.  Both are modal.
//
// Main thread only.

#include "cseries/cseries.h"

#define NO_BLOOD_LOCK_DIALOG_TAG FOUR_CHARACTER_CODE('n', 'o', 'b', 'p')
#define NO_BLOOD_UNLOCK_DIALOG_TAG FOUR_CHARACTER_CODE('n', 'o', 'b', 'u')
#define NO_BLOOD_LOCK_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'c')
#define NO_BLOOD_UNLOCK_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'b')

enum no_blood_item
{
    _no_blood_ok_item = 1,
    _no_blood_cancel_item = 2,
    _no_blood_password_item = 3,
    _no_blood_confirmation_item = 4, // the lock only
};

// Asks for a new password twice; when both entries match (two empty entries
// do), stores it in the game preferences: true.  False when cancelled or
// when the dialog is missing.  The caller writes the preferences.
bool lock_no_blood_dialog(void);
// Asks for the stored password (exact, case-sensitive): true when it was
// given.  False when cancelled or when the dialog is missing.
bool unlock_no_blood_dialog(void);
