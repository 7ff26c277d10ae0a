#pragma once
// Texts over units.
