#pragma once
// Saved games: saving, autosaving, continuing and reverting single-player games.
