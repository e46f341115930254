// Listing more than one thing at a time: the folders below the one listed
// (-R) and the sizes the page does not state exactly (--exact), fetched by
// --jobs threads at once and printed in a fixed order, the order of a
// depth-first walk as find(1) prints it.
//
// The library publishes its last result and last error for the whole
// process, the most recent operation of any thread winning; the threads
// here therefore take every answer from their own output buffer.
#pragma once

#include <string_view>

#include "tools/listing.h"

namespace klaspnet::tool {

struct walk_setup {
    const options &o;
    const char *settings;
    bool json_lines; // -R --json: one line per folder
    table_style style;
    view_rules rules;
};

// Prints the listing of the folder whose published result is start_text
// (its facts already read into facts), with what the options add, and the
// summary. Returns the exit status: 0, that of the first folder or size
// that failed (in the order printed), or 3 when standard output failed.
int walk_and_print(const walk_setup &w, std::string_view start_text, const listing_facts &facts);

} // namespace klaspnet::tool
