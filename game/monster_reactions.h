#pragma once
// Damage reactions: how a unit takes a hit, and propelled units.
