// The post-game report's reader on arbitrary reports: whatever the table
// flags, row counts and sizes claim, every text it hands out lies inside the
// report's string bytes (or is the empty text), and the count of texts is
// what the present tables promise.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bitmap_dialogs/postgame_report_control.h"

namespace {

struct reading
{
    const encoded_postgame_report *report;
    int32_t texts;
};

void check_text(void *context, const rectangle2d *, const char *text, int16_t, uint32_t)
{
    reading *r = (reading *)context;
    r->texts += 1;
    if (!*text) return;
    const char *begin = r->report->strings, *end = begin + POSTGAME_REPORT_STRING_BUFFER_SIZE;
    if (text < begin || text >= end) abort();
    if (!memchr(text, 0, (size_t)(end - text))) abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A heap copy of exactly one report, so that a read past it is caught.
    encoded_postgame_report *report = (encoded_postgame_report *)malloc(sizeof(encoded_postgame_report));
    if (!report) return 0;
    memset(report, 0, sizeof(*report));
    if (size) memcpy(report, data, size < sizeof(*report) ? size : sizeof(*report));
    const rectangle2d item = {0, 0, 480, 640};
    reading r = {report, 0};
    lay_out_postgame_report(report, &item, check_text, &r);

    static const int32_t columns[NUMBER_OF_POSTGAME_REPORT_TABLES] = {0, 4, 3, 2, 0, 0};
    int32_t promised = 0;
    for (int32_t t = 0; t < NUMBER_OF_POSTGAME_REPORT_TABLES; ++t)
    {
        if (!(report->valid_table_flags & (1u << t))) continue;
        const int32_t rows = report->table_row_counts[t] < 0 || report->table_row_counts[t] > 1024
                                 ? 0
                                 : report->table_row_counts[t];
        promised += 1 + rows * columns[t];
    }
    if (r.texts != promised) abort();
    free(report);
    return 0;
}
