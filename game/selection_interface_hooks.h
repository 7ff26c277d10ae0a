#pragma once
// Joins the selection's interface queries to the status bar, and gives the
// queries the fonts' check mark and the renderer's view test.

// Fills those registration points (game/subsystems.cpp).
void register_selection_interface_hooks(void);
