#pragma once
// The lobby's packet body codec: every body after the key exchange is framed
// by two fixed check blocks and two random words, mixed and XORed with the
// 8-byte session key, in both directions.  Kept because the service requires
// it; it is obfuscation, not encryption.

#include <cstdint>

constexpr int32_t LOBBY_CODEC_OVERHEAD = 24; // bytes the encoding adds

// The two check blocks both ends know, written and compared as these bytes.
extern const uint8_t szPacketCheck1[8];
extern const uint8_t szPacketCheck2[8];

// Encodes the `length` body bytes of `buffer` in place and returns the new
// length (`length` + 24), or -1 for a negative length.  `buffer` must hold
// 24 bytes more than the body.
int32_t encodeData(uint8_t *buffer, int32_t length, const uint8_t key[8]);
// Decodes `length` bytes in place and returns the body's length (`length` -
// 24) with the body at the start.  -1, with the bytes zeroed, when a check
// block does not match; -1, with nothing read, for fewer than 24 bytes.
int32_t decodeData(uint8_t *buffer, int32_t length, const uint8_t key[8]);
