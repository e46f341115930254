// The settings document: {"URL": directory URL, "ID": host id, "DateOrder": "dmy"|"mdy"}.
#pragma once

#include <cstdint>

#include "source/url.h"

struct klaspnet_cfg {
    klaspnet_root root;
    int32_t has_id;     // "ID" is a non-empty string
    int32_t date_order; // KLDLP_ORDER_DMY, KLDLP_ORDER_MDY or KLDLP_ORDER_NONE
    char msg[256];      // reason of a failed load
};

namespace klaspnet::detail {

// 0, or -8 with cfg->msg set. Either way the caller releases cfg->root with
// klaspnet_root_free.
int load_cfg(const char *settings_json, klaspnet_cfg *cfg);

} // namespace klaspnet::detail
