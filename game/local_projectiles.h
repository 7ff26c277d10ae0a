#pragma once
// Local (visual-only) projectiles and their groups.
