// Placeholder until the validate operation lands.
#include "source/frame.h"
#include "source/ops.h"

int32_t h_validate(const velkaron_io *, const char *, char *dst, int32_t dst_len)
{
    return fail(dst, dst_len, KLASPNET_E_UNSUPPORTED, "validate is not available yet");
}
