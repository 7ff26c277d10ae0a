#pragma once
// The list of a game's players and teams.
