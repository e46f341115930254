// What the tool prints for a person: server text made harmless for a
// terminal, sizes and times in plain words, and the checked writes to
// standard output and standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace klaspnet::tool {

// ---- server text ------------------------------------------------------------

// Appends s with every byte a terminal would act on, or that hides or
// reorders what follows, made visible: C0 controls and DEL as \xHH, C1
// controls and the bidirectional formatting characters (U+061C, U+200E,
// U+200F, U+202A-U+202E, U+2066-U+2069) as \uHHHH, and bytes that are not
// UTF-8 as \xHH. In quoted form '"' and '\' get a backslash as well.
void append_shown(std::string &out, std::string_view s, bool quoted = false);
std::string shown(std::string_view s);

// A name or path as a table shows it: as it is, or in double quotes (with
// the escapes above) when it holds a character that must be escaped, starts
// with '"', or when one of its '/'-separated parts begins or ends with a
// space, which would be invisible otherwise.
void append_name(std::string &out, std::string_view s);

// ---- numbers and times --------------------------------------------------------

// "-" for a negative size; bytes below 1024 ("999 B"); otherwise one decimal
// in the largest binary unit whose rounded value stays below 1024 ("1.0 MiB"
// for 1048575, never "1024.0 KiB").
std::string human_size(int64_t size);

// "YYYY-MM-DD HH:MM" of milliseconds since 1970 read as UTC, with " UTC"
// appended when utc is set; "-" for a negative time.
std::string format_time(int64_t ms, bool utc);

// The same into out (at least k_short_text bytes, no NUL); the length
// written. A table calls them once a line, so they format by hand.
constexpr size_t k_short_text = 32;
size_t put_human_size(char *out, int64_t size);
size_t put_time(char *out, int64_t ms, bool utc);

// Selects the time zone in which servers print their times (an IANA name
// found in the system's zone database, such as "Asia/Kolkata"). Must run
// before any other thread starts. False, with the reason, for an unknown name.
bool set_server_zone(const char *zone, std::string &why);
// A time that a page printed in the selected zone (and the library read as
// UTC), as milliseconds since 1970 in UTC.
int64_t server_time_to_utc(int64_t ms);

// "1 entry", "2 entries": the count with the singular or the plural word.
std::string count_of(int64_t n, const char *one, const char *many);

// ---- output -------------------------------------------------------------------

// Writes to standard output; a failure is remembered (with errno) and the
// remaining writes are dropped.
void out_write(const char *p, size_t n);
inline void out_text(std::string_view s) { out_write(s.data(), s.size()); }
// Flushes standard output; false once any write failed.
bool out_flush();
// No write to standard output has failed so far (without flushing).
bool out_good();
// Ends the output of command cmd: 0, or 3 after a message when standard
// output could not be written (a full disk, a closed file).
int out_finish(const char *cmd);

// "klaspnet CMD: MESSAGE" on standard error, the message shown as above.
void say(const char *cmd, std::string_view message);
// A line on standard error without the program's name (a summary).
void note(std::string_view text);

} // namespace klaspnet::tool
