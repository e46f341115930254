// The commands: install the transport as a host does, build the settings,
// run the library's operation and print its answer.
#pragma once

#include "tools/cli.h"

namespace klaspnet::tool {

// Runs the command the options name; returns the exit status.
int run_command(const options &o);

// A library message in the words of the tool's options, with a hint where
// the user can act on it.
std::string plain_message(const options &o, const char *message);

} // namespace klaspnet::tool
