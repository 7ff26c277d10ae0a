#include "network_queues.h"

#include <cstdlib>
#include <cstring>

#include "cseries/cseries.h"
#include "network_constants.h"
#include "packet_definitions.h"

static int32_t used_bytes(const circular_queue *queue)
{
    const int32_t used = queue->write_index - queue->read_index;
    return used >= 0 ? used : used + queue->size;
}

// Copies `length` bytes out of the ring from `index` on, wrapping at its end.
static void copy_out_of_ring(const circular_queue *queue, int32_t index, void *destination, int32_t length)
{
    const int32_t first = queue->size - index < length ? queue->size - index : length;
    memcpy(destination, queue->buffer + index, (size_t)first);
    if (first < length) memcpy((uint8_t *)destination + first, queue->buffer, (size_t)(length - first));
}

// Copies `length` bytes into the ring at its write index, wrapping, and advances it.
static void copy_into_ring(circular_queue *queue, const void *source, int32_t length)
{
    const int32_t index = queue->write_index;
    const int32_t first = queue->size - index < length ? queue->size - index : length;
    memcpy(queue->buffer + index, source, (size_t)first);
    if (first < length) memcpy(queue->buffer, (const uint8_t *)source + first, (size_t)(length - first));
    const int32_t next = index + length;
    queue->write_index = next >= queue->size ? next - queue->size : next;
}

static void advance_read_index(circular_queue *queue, int32_t length)
{
    const int32_t next = queue->read_index + length;
    queue->read_index = next >= queue->size ? next - queue->size : next;
}

bool allocate_circular_queue(const char *name, circular_queue *queue, int32_t size)
{
    if (!VASSERT(queue, "no queue record")) return false;
    memset(queue, 0, sizeof(*queue));
    strlcpy(queue->name, name ? name : "", sizeof(queue->name));
    if (!VASSERT(size >= 2, "a queue holds at least one byte")) return false;
    queue->size = size;
    queue->buffer = (uint8_t *)malloc((size_t)size);
    if (!queue->buffer)
    {
        log_message(__FILE__, __LINE__, "queue %s: no memory for %d bytes", queue->name, size);
        return false;
    }
    memset(queue->buffer, CIRCULAR_QUEUE_FILL_BYTE, (size_t)size);
    return true;
}

void free_circular_queue(circular_queue *queue)
{
    if (!queue || !queue->buffer) return;
    free(queue->buffer);
    queue->buffer = nullptr;
}

void reset_circular_queue(circular_queue *queue)
{
    if (!queue) return;
    queue->read_index = queue->write_index = 0;
    if (queue->buffer && queue->size > 0) memset(queue->buffer, CIRCULAR_QUEUE_FILL_BYTE, (size_t)queue->size);
}

bool is_circular_queue_empty(const circular_queue *queue)
{
    return queue && queue->read_index == queue->write_index;
}

void dump_queue(const circular_queue *queue)
{
    if (!queue)
    {
        LOG_REPEATED("Queue (none)");
        return;
    }
    // One line, one record: the dump is written whole or counted whole.
    LOG_REPEATED("Queue %.31s at %p: read at %d, write at %d, size %d, buffer %p", queue->name, (const void *)queue,
                 queue->read_index, queue->write_index, queue->size, (const void *)queue->buffer);
}

bool valid_queue(const circular_queue *queue)
{
    const bool valid = queue && queue->buffer && queue->size >= 2 && queue->read_index >= 0 &&
                       queue->read_index < queue->size && queue->write_index >= 0 &&
                       queue->write_index < queue->size;
    if (!valid)
    {
        dump_queue(queue);
        LOG_REPEATED("queue %.31s is invalid!", queue ? queue->name : "(none)");
    }
    return valid;
}

int32_t circular_buffer_size(const circular_queue *queue)
{
    return valid_queue(queue) ? used_bytes(queue) : 0;
}

int32_t circular_buffer_free_size(const circular_queue *queue)
{
    return valid_queue(queue) ? queue->size - 1 - used_bytes(queue) : 0;
}

int32_t circular_buffer_linear_write_size(const circular_queue *queue)
{
    if (!valid_queue(queue)) return 0;
    return queue->write_index >= queue->read_index ? queue->write_index - queue->read_index
                                                   : queue->size - queue->read_index;
}

bool copy_data_into_circular_queue(const void *data, int32_t length, circular_queue *queue)
{
    if (!VASSERT(valid_queue(queue), "queue is invalid")) return false;
    if (!VASSERT(length >= 0 && (data || length == 0), "data pointer is invalid")) return false;
    if (queue->size - 1 - used_bytes(queue) < length) return false;
    if (length > 0) copy_into_ring(queue, data, length);
    return true;
}

bool copy_queue_into_queue(circular_queue *source, circular_queue *destination)
{
    if (!VASSERT(valid_queue(source), "valid_queue(source)")) return false;
    if (!VASSERT(valid_queue(destination), "valid_queue(destination)")) return false;
    if (!VASSERT(source != destination, "a queue copied into itself")) return false;
    const int32_t count = used_bytes(source);
    if (destination->size - 1 - used_bytes(destination) < count) return false;
    // At most two runs of the source, each written with wrap.
    const int32_t first = source->size - source->read_index < count ? source->size - source->read_index : count;
    copy_into_ring(destination, source->buffer + source->read_index, first);
    copy_into_ring(destination, source->buffer, count - first);
    source->read_index = source->write_index;
    return true;
}

bool circular_queue_holds_whole_packet(const circular_queue *queue)
{
    if (!valid_queue(queue)) return false;
    const int32_t used = used_bytes(queue);
    if (used < (int32_t)sizeof(net_message_header)) return false;
    uint8_t length_bytes[2];
    const int32_t at = queue->read_index + 2;
    copy_out_of_ring(queue, at >= queue->size ? at - queue->size : at, length_bytes, 2);
    const uint16_t length = read_be16(length_bytes);
    return length >= sizeof(net_message_header) && length <= (int32_t)MAXIMUM_SINGLE_PACKET_SIZE && length <= used;
}

queue_packet_result get_next_packet_from_queue(circular_queue *queue, void *packet, int32_t maximum_length,
                                               bool byteswap)
{
    if (!VASSERT(valid_queue(queue), "queue is invalid")) return _queue_packet_corrupt;
    if (!VASSERT(packet, "packet")) return _queue_packet_corrupt;
    if (!VASSERT(maximum_length >= (int32_t)sizeof(net_message_header),
                 "maximum_length>=sizeof(struct net_message_header)"))
        return _queue_packet_corrupt;

    const int32_t used = used_bytes(queue);
    if (used < (int32_t)sizeof(net_message_header)) return _queue_packet_incomplete;

    // The length sits in bytes 2 and 3 of the header.
    uint8_t length_bytes[2];
    const int32_t at = queue->read_index + 2;
    copy_out_of_ring(queue, at >= queue->size ? at - queue->size : at, length_bytes, 2);
    uint16_t length;
    if (byteswap) length = read_be16(length_bytes);
    else memcpy(&length, length_bytes, sizeof(length));

    if (length < sizeof(net_message_header) || length > maximum_length)
    {
        LOG_REPEATED("q: %.31s got a packet of impossible length: length: %u max: %d byteswap: %d",
                     queue->name, (unsigned)length, maximum_length, byteswap ? 1 : 0);
        dump_queue(queue);
        return _queue_packet_corrupt;
    }
    if (used < length) return _queue_packet_incomplete;

    copy_out_of_ring(queue, queue->read_index, packet, length);
    advance_read_index(queue, length);
    return _queue_packet_taken;
}
