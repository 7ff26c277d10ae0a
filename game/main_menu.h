#pragma once
// The main menu.
