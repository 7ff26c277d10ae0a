#pragma once
// Limits of a game that several records share.

enum
{
    MAXIMUM_PLAYERS_PER_MAP = 16, // in a game's set-up
    MAXIMUM_TEAMS_PER_MAP = 16,
    NUMBER_OF_DIFFICULTY_LEVELS = 5,
};
