#pragma once
// Joins the sound subsystem to the game core: its start-up steps, per-map
// stores and the preloader's reader.  Called once from
// register_built_subsystems.

void register_sound_hooks(void);
