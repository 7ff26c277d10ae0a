#pragma once
// The story of a campaign joined to the game core: the cutscenes' start-up
// step and the entries of the intro, prologue, epilogue and running states
// (the running state's also opens the unit trading dialog when the game
// starts in its planning time).

// Registers them; called once from register_built_subsystems.
void register_story_hooks(void);
