#pragma once
// Gives the selection's interface queries the fonts' check mark and the
// renderer's view test.

// Fills those registration points (game/subsystems.cpp).
void register_selection_interface_hooks(void);
