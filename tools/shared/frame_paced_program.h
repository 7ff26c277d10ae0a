#pragma once
// The program as the tools that draw its frames run it (vesk_shot, the
// OpenGL game test): the frames are the input's clock, so the same frames
// give the same pictures every run.

#include "observer.h"

// Starts the game up after register_built_subsystems and the log's opening:
// nobody to press a message box's OK, no single-instance lock, no sound; the
// input's 30 Hz timer gives way to the caller, who runs
// keyboard_queue_task_proc once a frame; the observer's clock is `clock`,
// the local generator is seeded with 1, and the first game state is picked.
// False when the start-up fails (the log says why).  Main thread only.
bool start_frame_paced_program(observer_clock_procedure clock);
