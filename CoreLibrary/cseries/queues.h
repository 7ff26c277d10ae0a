#pragma once
// A ring of equal-size elements over a caller's buffer.  One slot always stays
// free, so a ring of diameter 32 holds 31 elements.
//
// Two ways to use it:
//  - `queue_write`/`queue_read` hand out slots: for one thread only.
//  - `queue_push`/`queue_pop`/`queue_clear` copy whole elements under the
//    queue's lock: for queues shared between threads (the action queue is fed
//    by the 30 Hz timer thread and by the main thread's event pump).  An element
//    is never seen half-written, lost or twice.

#include <cstdint>
#include <mutex>

struct queue
{
    uint8_t *buffer;
    int32_t element_size;
    int32_t diameter;
    int32_t read_index;
    int32_t write_index;
    std::mutex lock;
};

// Prepares `q` over `buffer` (element_size * diameter bytes).  False for a
// null buffer, an element size below 1 or a diameter below 2.
bool queue_new(queue *q, void *buffer, int32_t element_size, int32_t diameter);

// The slot to fill next, now counted as written; null when only one slot is
// left free.  Single-threaded use only.
void *queue_write(queue *q);

// The oldest element, now counted as read; null when the ring is empty.  The
// element stays valid until the slot is written again.  Single-threaded use only.
void *queue_read(queue *q);

// Copies `element` in as the newest element; false when the ring is full.
bool queue_push(queue *q, const void *element);

// Copies the oldest element out into `element`; false when the ring is empty.
bool queue_pop(queue *q, void *element);

// Empties the ring (under the lock).
void queue_clear(queue *q);

// Number of elements waiting.
int32_t queue_count(queue *q);
