/* A program that depends on the module the way a C project does. run.sh
   builds it three ways (CMake package, pkg-config, add_subdirectory) and runs
   it: it checks that the header's version macros, the version the package
   announced (KLASPNET_PACKAGE_VERSION, when given) and klaspnet_version()
   agree, and lists a folder through the built-in fake transport. */
#include <stdio.h>
#include <string.h>

#include "klaspnet/klaspnet.h"

#if !defined(KLASPNET_VERSION_MAJOR) || KLASPNET_VERSION_MAJOR < 1
#  error "KLASPNET_VERSION_MAJOR must be a number usable in #if"
#endif

static const char page[] = "<html><head><title>Index of /media/</title></head><body>"
                           "<h1>Index of /media/</h1><hr><pre><a href=\"../\">../</a>\n"
                           "<a href=\"Films/\">Films/</a>        11-Dec-2021 23:59       -\n"
                           "<a href=\"a%20b.mkv\">a b.mkv</a>    11-Dec-2021 23:59    1234\n"
                           "</pre><hr></body></html>";

static int fail(const char *what, const char *detail)
{
    fprintf(stderr, "app: %s: %s\n", what, detail);
    return 1;
}

int main(void)
{
    char numbers[48];
    char out[2048];
    int32_t rc;

    snprintf(numbers, sizeof numbers, "%d.%d.%d", KLASPNET_VERSION_MAJOR, KLASPNET_VERSION_MINOR,
             KLASPNET_VERSION_PATCH);
    if (strcmp(numbers, KLASPNET_VERSION_STRING) != 0)
        return fail("KLASPNET_VERSION_STRING differs from the version numbers", KLASPNET_VERSION_STRING);
    if (strcmp(klaspnet_version(), KLASPNET_VERSION_STRING) != 0)
        return fail("klaspnet_version() differs from KLASPNET_VERSION_STRING", klaspnet_version());
#ifdef KLASPNET_PACKAGE_VERSION
    if (strcmp(KLASPNET_PACKAGE_VERSION, KLASPNET_VERSION_STRING) != 0)
        return fail("the package announces another version", KLASPNET_PACKAGE_VERSION);
#endif

    if (klaspnet_use_fake() != KLASPNET_OK || klaspnet_fake_set("http://server/media/", 200, NULL, page) != KLASPNET_OK)
        return fail("fake transport", klaspnet_last_error());
    rc = klaspnet_list("{\"URL\":\"http://server/media\"}", "", out, (int32_t)sizeof out);
    if (rc != KLASPNET_OK) return fail("list", klaspnet_last_error());
    if (strstr(out, "\"name\":\"Films\"") == NULL || strstr(out, "\"name\":\"a b.mkv\"") == NULL ||
        strstr(out, "\"size\":1234") == NULL)
        return fail("list gave other items", out);
    printf("klaspnet %s: %s\n", klaspnet_version(), out);
    return 0;
}
