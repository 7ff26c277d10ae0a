#pragma once
// Queries about one unit: names, experience, artifact charges, nearest enemy, sounds.
