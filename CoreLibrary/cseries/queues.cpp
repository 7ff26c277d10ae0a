// A ring of equal-size elements over a caller's buffer.
//
// The ring keeps one slot free so that "read == write" always means empty and
// never full; a ring of diameter d therefore holds d - 1 elements.  The copying
// calls take the queue's lock for the whole copy, so a reader on another thread
// never sees a slot that is still being filled and two writers never claim the
// same slot.

#include "cseries/queues.h"

#include <cstring>

#include "cseries/cseries.h"

static int32_t queue_next_index(const queue *q, int32_t index)
{
    return index + 1 == q->diameter ? 0 : index + 1;
}

static uint8_t *queue_slot(const queue *q, int32_t index)
{
    return q->buffer + (size_t)index * (size_t)q->element_size;
}

static bool queue_is_valid(const queue *q)
{
    return q && q->buffer && q->element_size >= 1 && q->diameter >= 2;
}

bool queue_new(queue *q, void *buffer, int32_t element_size, int32_t diameter)
{
    if (!q) return false;
    q->buffer = nullptr;
    q->element_size = 0;
    q->diameter = 0;
    q->read_index = 0;
    q->write_index = 0;
    if (!buffer || element_size < 1 || diameter < 2) return false;

    q->buffer = (uint8_t *)buffer;
    q->element_size = element_size;
    q->diameter = diameter;
    return true;
}

void *queue_write(queue *q)
{
    if (!queue_is_valid(q)) return nullptr;
    const int32_t next = queue_next_index(q, q->write_index);
    if (next == q->read_index) return nullptr;
    uint8_t *slot = queue_slot(q, q->write_index);
    q->write_index = next;
    return slot;
}

void *queue_read(queue *q)
{
    if (!queue_is_valid(q)) return nullptr;
    if (q->read_index == q->write_index) return nullptr;
    uint8_t *slot = queue_slot(q, q->read_index);
    q->read_index = queue_next_index(q, q->read_index);
    return slot;
}

bool queue_push(queue *q, const void *element)
{
    if (!queue_is_valid(q) || !element) return false;
    std::lock_guard<std::mutex> guard(q->lock);
    const int32_t next = queue_next_index(q, q->write_index);
    if (next == q->read_index) return false;
    memcpy(queue_slot(q, q->write_index), element, (size_t)q->element_size);
    q->write_index = next;
    return true;
}

bool queue_pop(queue *q, void *element)
{
    if (!queue_is_valid(q) || !element) return false;
    std::lock_guard<std::mutex> guard(q->lock);
    if (q->read_index == q->write_index) return false;
    memcpy(element, queue_slot(q, q->read_index), (size_t)q->element_size);
    q->read_index = queue_next_index(q, q->read_index);
    return true;
}

void queue_clear(queue *q)
{
    if (!q) return;
    std::lock_guard<std::mutex> guard(q->lock);
    q->read_index = 0;
    q->write_index = 0;
}

int32_t queue_count(queue *q)
{
    if (!queue_is_valid(q)) return 0;
    std::lock_guard<std::mutex> guard(q->lock);
    const int32_t count = q->write_index - q->read_index;
    return count < 0 ? count + q->diameter : count;
}
