#pragma once
// Dialogs: the dialog and item records, the dialog tag, and the dialog layer's calls.

// Joins the dialog layer to the core (action consumers, drawing, control types).
void register_dialog_hooks(void);
