// Word of requests that take long, on standard error: a status line that
// says the tool is waiting (after 2 s without an answer) or how much of a
// page has arrived and how fast, redrawn in place and erased when the
// requests end; only when standard error is a terminal. Retries are told on
// their own line wherever standard error goes (unless the user asked for
// quiet).
#pragma once

#include "transport/curl_transport.h"

namespace klaspnet::tool {

struct progress_settings {
    bool status_line; // standard error is a terminal
    bool quiet;       // no retry notices
    int attempts;     // 1 + the retries allowed, for "attempt 2 of 3"
};

// The observer to hand to the libcurl transport, with its context.
void progress_start(const progress_settings &s, klaspnet_curl_options &transport);

// Keeps the status line off the terminal while other text is written:
// erases it, if it is shown, and holds it back until the end of the scope,
// so that no line of the table is written into the middle of it.
class status_pause {
public:
    status_pause();
    ~status_pause();
    status_pause(const status_pause &) = delete;
    status_pause &operator=(const status_pause &) = delete;

private:
    bool held_;
};

} // namespace klaspnet::tool
