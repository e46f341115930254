// Placeholder until the stat operation lands.
#include "source/frame.h"
#include "source/ops.h"

int32_t klaspnet_stat_io(const velkaron_io *, const char *, const char *, char *dst, int32_t dst_len)
{
    return fail(dst, dst_len, KLASPNET_E_UNSUPPORTED, "stat is not available yet");
}
