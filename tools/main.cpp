// klaspnet - a command-line tool that browses the directory listings of
// nginx, Apache httpd and ASP.NET Core servers.
//
// The tool is a host like any other: it links the plug-in module and talks to
// it only through its exported functions, installs the libcurl transport with
// klaspnet_set_io and binds its HTTP extension with klaspnet_bind_http. It
// prints the library's results as tables (or as the library's own JSON with
// --json) and leaves with 0, or with 10 + (-code) when an operation fails.
#include <cstdio>
#include <new>
#include <string>

#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/show.h"

int main(int argc, char **argv)
{
    using namespace klaspnet::tool;
    try {
        options o;
        const int ex = parse_args(argc, argv, o);
        if (ex != 0) return ex < 0 ? 0 : ex;
        if (o.server_tz) {
            std::string why;
            if (!set_server_zone(o.server_tz, why)) {
                say(o.cmd, why);
                return k_exit_usage;
            }
        }
        return run_command(o);
    } catch (const std::bad_alloc &) {
        std::fputs("klaspnet: out of memory\n", stderr);
        return k_exit_local;
    }
}
