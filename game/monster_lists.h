#pragma once
// Unit lists: identifiers and indexes, the list filters, centre points, markers, evaluate_monster.
