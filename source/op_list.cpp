// Placeholder until the list operation lands.
#include "source/frame.h"
#include "source/ops.h"

int32_t h_list(const velkaron_io *, const char *, const char *, char *dst, int32_t dst_len)
{
    return fail(dst, dst_len, KLASPNET_E_UNSUPPORTED, "list is not available yet");
}
