#pragma once
// The per-tick unit update.
