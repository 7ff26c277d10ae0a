// The hardware rasterizer's table.  See hardware_rasterizer.h.

#include "hardware_rasterizer.h"

#include "bitmaps.h"
#include "cseries/registration.h"

static procedure_slot<hardware_rasterizer_table_procedure> hardware_table_slot("hardware rasterizer");

bool register_hardware_rasterizer_procedure(hardware_rasterizer_table_procedure procedure)
{
    return hardware_table_slot.fill(procedure);
}

static const hardware_rasterizer_procedures *hardware_table(void)
{
    hardware_rasterizer_table_procedure procedure = hardware_table_slot.get();
    return procedure ? procedure() : nullptr;
}

bool is_hardware_encoding(int16_t encoding)
{
    return encoding >= _3dfx_frame_buffer_encoding && encoding <= _dx11_frame_buffer_encoding;
}

bool rasterizer_requires_square_textures(void)
{
    const hardware_rasterizer_procedures *table = hardware_table();
    return table && table->requires_square_textures && table->requires_square_textures();
}

void get_shapes_bit_depth_and_encoding_hardware(int16_t *bit_depth, int16_t *encoding)
{
    const hardware_rasterizer_procedures *table = hardware_table();
    *bit_depth = 32;
    *encoding = _32bit_encoding;
    if (table && table->get_shapes_bit_depth_and_encoding) table->get_shapes_bit_depth_and_encoding(bit_depth, encoding);
}
