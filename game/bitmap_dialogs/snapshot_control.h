#pragma once
// A saved game's snapshot picture.
