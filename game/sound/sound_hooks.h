#pragma once
// Joins the sound subsystem to the game core: its start-up steps, per-map
// stores and the preloader's reader.  Called once from
// register_built_subsystems.

void register_sound_hooks(void);

// Plays the menu's music whatever the preferences say (the preferences'
// box): between maps it first makes the channels when none exist.  Silent
// without an output.
void play_menu_music(void);
