#pragma once
// Registration of the game's own control types.
