// Placeholder until the parse operation lands.
#include "source/frame.h"
#include "source/ops.h"

int32_t klaspnet_parse_page(const char *, const char *, char *dst, int32_t dst_len)
{
    return fail(dst, dst_len, KLASPNET_E_UNSUPPORTED, "parse is not available yet");
}
