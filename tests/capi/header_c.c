/* Compiled as strict C11: the public header must serve C hosts. */
#include "klaspnet/klaspnet.h"

int header_c_probe(void);
int header_c_probe(void)
{
    velkaron_io io = {0};
    velkaron_http http = {0};
    velkaron_http_req req = {0};
    return (int)(sizeof io + sizeof http + sizeof req) + KLASPNET_E_BUFFER;
}
