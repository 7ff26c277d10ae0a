#include "frame_paced_program.h"

#include "cseries/errors.h"
#include "input/keyboard.h"
#include "message_dialog.h"
#include "screen.h"
#include "sound/sound_preferences.h"
#include "vesk.h"
#include "vesk_random.h"

static void unshown_message_box(const char *) {}

bool start_frame_paced_program(observer_clock_procedure clock)
{
    set_message_box_proc(unshown_message_box);
    // Its input is a script: nobody would press a message dialog's OK.
    set_front_end_unattended(true);
    // A frame may be taken beside a running game in the same directory.
    set_vesk_without_single_instance_lock(true);
    // A frame needs no sound: the output stays closed.
    use_sound_preferences_store(false);
    get_sound_preferences()->provider_id = _sound_provider_none;
    if (!initialize_vesk()) return false;
    // The keyboard task's procedure runs once a frame, on the caller's thread.
    remove_keyboard_queue_task();
    set_keyboard_queue_task_state(true);
    set_observer_clock(clock);
    // The caller's frames are the clock: no frame waits for the real one.
    set_idle_frame_wait(false);
    // The local generator (falling leaves, stains, sounds) is seeded from the
    // machine clock at start-up; a fixed seed makes the frames repeatable.
    set_local_random_seed(1);
    set_main_global_flags(0);
    pick_first_game_state();
    return true;
}
