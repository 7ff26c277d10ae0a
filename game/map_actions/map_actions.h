#pragma once
// Map actions: the scripts every map carries, their records, parameters and engine.
