#pragma once
// The message dialog: a title and a text with one OK button, run modally
// ('bina' tag 'mesg' over the parchment of 'innb': item 1 the title, item 2
// the text, item 3 OK, which is both the default and the cancel item).
// What the front end shows for a pending error outside a running game.
//
// Main thread only.

#include "cseries/cseries.h"

#define MESSAGE_DIALOG_TAG FOUR_CHARACTER_CODE('m', 'e', 's', 'g')
#define MESSAGE_DIALOG_BACKGROUND_COLLECTION_TAG FOUR_CHARACTER_CODE('i', 'n', 'n', 'b')

enum message_dialog_item
{
    _message_dialog_title_item = 1,
    _message_dialog_text_item,
    _message_dialog_ok_item,
};

// Shows `title` and `text` (either may be null) until the player presses OK
// (or Return or Escape).  False, logged, when it cannot be shown: no screen,
// the tag missing or lacking its items; the caller then says it another way.
bool show_message_dialog(const char *title, const char *text);

// The frame's pending error (already in the log): a console line while a
// game runs, so that a network game never stalls on a dialog; else the
// message dialog, or the system's message box when the dialog cannot be
// shown or the program is quitting.  Nothing more in a headless run.
void report_pending_error_in_front_end(int32_t code, const char *text);

// A run nobody watches (the frame tool, whose input is a script) shows a
// pending error in the system's message box, never in a dialog that waits
// for OK.
void set_front_end_unattended(bool unattended);
