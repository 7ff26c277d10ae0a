#pragma once
// The selection: the units the local player has picked, its presets and modes, and the orders given from it.
