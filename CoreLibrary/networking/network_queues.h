#pragma once
// Named byte rings holding whole packets framed by the length of their
// 8-byte header (networking/packet_definitions.h).  Every buffer between the
// sockets and the game is one: bytes are appended as they arrive, and a packet
// is taken out only once all of its bytes are in.  A queue never allocates
// after creation and never blocks; what does not fit is refused whole.
//
// One byte of the ring always stays free, so a queue of `size` bytes holds at
// most size - 1.  Counts are 32-bit: queues of any size up to 2 GiB work.
//
// Main thread only: queues are touched during the network poll, without locks.

#include <cstdint>

enum
{
    CIRCULAR_QUEUE_NAME_SIZE = 32,   // name, terminator included
    CIRCULAR_QUEUE_FILL_BYTE = 0xFE, // marks never-written bytes in dumps
};

struct circular_queue
{
    char name[CIRCULAR_QUEUE_NAME_SIZE]; // for log lines only
    int32_t size;                        // bytes in the ring
    int32_t read_index;                  // next byte to take, 0 <= read_index < size
    int32_t write_index;                 // next byte to fill, 0 <= write_index < size
    uint8_t *buffer;                     // owned; null when none was allocated
};

// Clears the record, names it (cut to 31 characters), allocates `size` bytes
// and fills them with CIRCULAR_QUEUE_FILL_BYTE.  False when the allocation
// fails or `size` is below 2 (assertion); the record then has no buffer.
bool allocate_circular_queue(const char *name, circular_queue *queue, int32_t size);

// Frees the buffer; a queue without one is left alone.
void free_circular_queue(circular_queue *queue);

// Empties the queue and refills its buffer with CIRCULAR_QUEUE_FILL_BYTE.
void reset_circular_queue(circular_queue *queue);

// True when nothing is queued.
bool is_circular_queue_empty(const circular_queue *queue);

// True when the queue exists, has a buffer and both indexes lie in
// 0 .. size - 1.  An invalid queue is dumped to the log.
bool valid_queue(const circular_queue *queue);

// Bytes queued; 0 for an invalid queue.
int32_t circular_buffer_size(const circular_queue *queue);
// Bytes that can still be appended (size - 1 - queued); 0 for an invalid queue.
int32_t circular_buffer_free_size(const circular_queue *queue);
// Queued bytes lying contiguously from the read index: what a sender can hand
// the socket in one call.
int32_t circular_buffer_linear_write_size(const circular_queue *queue);

// Appends `length` bytes.  False, with nothing written, when they do not all
// fit, when the queue is invalid or `length` negative (assertion).
bool copy_data_into_circular_queue(const void *data, int32_t length, circular_queue *queue);

// Moves every queued byte of `source` to the end of `destination`, leaving the
// source empty.  False, with both queues untouched, when the destination has
// too little room or either queue is invalid (assertion).
bool copy_queue_into_queue(circular_queue *source, circular_queue *destination);

enum queue_packet_result
{
    _queue_packet_incomplete, // fewer bytes queued than the next packet needs: nothing taken
    _queue_packet_taken,      // one whole packet copied out and consumed
    _queue_packet_corrupt,    // the framing is broken: drop the connection
};

// Takes the next whole packet into `packet` (room for `maximum_length` bytes,
// at least 8).  With `byteswap` the queue holds wire order and the header's
// length is read big-endian; without it, host order.  A length below 8 or
// above `maximum_length` can never be framed again: the result is corrupt,
// nothing is copied or consumed (the queue stays corrupt on every later
// call, so the stream is never read from the middle of a packet), and the
// queue is logged.  An invalid queue or a null `packet` is corrupt too
// (assertion).
queue_packet_result get_next_packet_from_queue(circular_queue *queue, void *packet, int32_t maximum_length,
                                               bool byteswap);

// True when the queue (wire order) holds at least one whole packet at its
// front: its header and all the bytes its length names.
bool circular_queue_holds_whole_packet(const circular_queue *queue);

// Writes the queue's name, address, indexes, size and buffer address to the log.
void dump_queue(const circular_queue *queue);
