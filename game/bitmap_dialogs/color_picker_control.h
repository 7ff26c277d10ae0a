#pragma once
// The colour picker control.
