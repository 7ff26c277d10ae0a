#pragma once
// Veterans: the unit initializers carried from level to level.
