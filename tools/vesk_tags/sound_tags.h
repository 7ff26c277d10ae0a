#pragma once
// The sound commands of the data tool: a sound ('soun') from one to five
// 16-bit PCM WAV files (its permutations, mono or stereo, IMA-encoded), an
// ambient sound ('amso') and a sound list ('soli'), each as a local tag file.
//
//   vesk_tags sound OUT --subgroup S --name N [--loudness 0-3] [--flags F]
//                   [--pitch LOW DELTA] [--volume LOW DELTA] [--play-fraction P] WAV...
//   vesk_tags ambient-sound OUT --subgroup S --name N [--loop TAG] [--random TAG]
//                   [--inner R] [--outer R] [--period LOW DELTA] [--random-radius R] [--flags F]
//   vesk_tags sound-list OUT --subgroup S --name N TAG...   (at most 30; "none" for an empty entry)
//
// Pitches and volumes are 8.8 (256 = unchanged); the play fraction is out of 65535.

#include <cstdint>
#include <string>
#include <vector>

// The samples of a 16-bit PCM WAV file held in `bytes`: `channels` (1 or 2)
// interleaved host-order samples at `rate` Hz.  False, with the reason, for
// anything else (another encoding or width, a chunk beyond the file, no data).
bool read_pcm_wav(const std::string &bytes, std::vector<int16_t> *samples, int32_t *channels, int32_t *rate,
                  std::string *reason);

int sound_tags_command(int argc, char **argv);
int ambient_sound_tags_command(int argc, char **argv);
int sound_list_tags_command(int argc, char **argv);
