#pragma once
// The front-end dialogs joined to the game core: their start-up steps, game
// states and slots.

// Registers the front end's procedures (from register_built_subsystems).
void register_front_end_hooks(void);
