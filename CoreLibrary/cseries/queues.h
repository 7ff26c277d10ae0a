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

// Prepares `q` over `buffer` (element_size * diameter bytes), empty.  False
// for a null buffer, an element size below 1 or a diameter below 2; every call
// on such a queue then fails (null, false or 0).  Not while other threads use `q`.
bool queue_new(queue *q, void *buffer, int32_t element_size, int32_t diameter);

// The slot to fill next, now counted as written; null when only one slot is
// left free.  Single-threaded use only.
void *queue_write(queue *q);

// The oldest element, now counted as read; null when the ring is empty.  The
// element stays valid until the slot is written again.  Single-threaded use only.
void *queue_read(queue *q);

// Copies `element` (element_size bytes) in as the newest element, under the
// lock; false when the ring is full or the queue was never prepared.  Safe from
// any number of threads at once, together with queue_pop and queue_clear.
bool queue_push(queue *q, const void *element);

// Copies the oldest element out into `element`, under the lock; false when the
// ring is empty (nothing is written then).
bool queue_pop(queue *q, void *element);

// Empties the ring under the lock: an element being pushed at the same moment
// is either dropped whole or kept whole.  Do not mix with a slot still held
// from queue_write/queue_read.
void queue_clear(queue *q);

// Number of elements waiting, under the lock (it may change as soon as it
// returns when other threads push or pop).
int32_t queue_count(queue *q);
