#pragma once
// Registration of the game's own control types.

// Registers the core control types, then the game's own (results ignored).
// Called once at start-up, before any dialog exists (register_dialog_hooks).
void register_vesk_controls(void);
