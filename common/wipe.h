// Clearing of memory that held credentials. The library compiles this file
// and so does the command-line tool, which keeps its own secrets (a
// password read from the terminal, the settings text that carries it).
#pragma once

#include <cstddef>

struct yyjson_alc;

// Zeroing that the optimiser may not remove.
void klaspnet_wipe(void *p, size_t n);
// Wipe a heap text (its bytes up to the NUL) and free it; null does nothing.
void klaspnet_free_secret(char *s);
// A yyjson allocator that clears every block before releasing it and never
// lets a block move by realloc (the old block would keep its bytes), for
// documents and written texts that hold credentials.
const yyjson_alc *klaspnet_wipe_alc();
