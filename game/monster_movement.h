#pragma once
// Unit movement: the moving action and the units' own mover.
