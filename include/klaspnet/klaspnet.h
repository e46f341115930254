/*
 * klaspnet.h - public C interface of the velkaron-quintarra-aspnet-directory-listing-client
 * module: a read-only "listing source" (runtime type "ASPNET") that browses the
 * directory-listing pages of ASP.NET Core, nginx and Apache web servers.
 *
 * Conventions shared by every export:
 *  - Texts are NUL-terminated UTF-8. A text returned by the library is owned by
 *    the library; the host never frees it.
 *  - Operations write one JSON text into the caller's buffer (dst, dst_len):
 *    the whole text with its NUL, or an empty text when it does not fit. A
 *    success that does not fit returns KLASPNET_E_BUFFER; a failure keeps its
 *    own code and its JSON is {"error":message,"code":code}.
 *  - After each operation the last error message and the last result JSON are
 *    published library-wide (the most recent operation of any thread wins).
 *  - Every export may be called from any thread. Operations take no lock while
 *    they run; the host should not replace a transport it still wants in use.
 *  - No export throws, aborts on memory exhaustion, or keeps a host pointer
 *    except a bound velkaron_http record (see klaspnet_bind_http).
 */
#ifndef KLASPNET_KLASPNET_H
#define KLASPNET_KLASPNET_H

#include <stddef.h>
#include <stdint.h>

/* Version of the module this header describes; klaspnet_version() answers
   KLASPNET_VERSION_STRING. These three numbers are the one place the version is
   written: the build (CMake package, pkg-config file) reads them from here. */
#define KLASPNET_VERSION_MAJOR 1
#define KLASPNET_VERSION_MINOR 0
#define KLASPNET_VERSION_PATCH 0
#define KLASPNET_VERSION_TEXT_(a, b, c) #a "." #b "." #c
#define KLASPNET_VERSION_TEXT(a, b, c) KLASPNET_VERSION_TEXT_(a, b, c)
#define KLASPNET_VERSION_STRING                                                                                        \
  KLASPNET_VERSION_TEXT(KLASPNET_VERSION_MAJOR, KLASPNET_VERSION_MINOR, KLASPNET_VERSION_PATCH)

#if defined(_WIN32)
#  if defined(KLASPNET_BUILD)
#    define KLASPNET_API __declspec(dllexport)
#  elif defined(KLASPNET_STATIC)
#    define KLASPNET_API
#  else
#    define KLASPNET_API __declspec(dllimport)
#  endif
#else
#  if defined(KLASPNET_BUILD)
#    define KLASPNET_API __attribute__((visibility("default")))
#  else
#    define KLASPNET_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. The numbers never change. */
/* clang-format off */
#define KLASPNET_OK 0
#define KLASPNET_E_ACCESS (-1)       /* server refused access: HTTP 401, 403, 407 */
#define KLASPNET_E_NOT_FOUND (-2)    /* HTTP 404/410, or a path that names no item, or a folder where a file is needed */
#define KLASPNET_E_RATE_LIMITED (-3) /* HTTP 429 */
#define KLASPNET_E_UNAVAILABLE (-4)  /* HTTP 408 or 5xx, or a fetch that ended without an answer */
#define KLASPNET_E_FAILED (-5)       /* any other failure: refused redirect, not a listing, out of memory, ... */
#define KLASPNET_E_UNSUPPORTED (-6)  /* operation not offered (download; no default transport; stat without Range) */
/*      -7                              reserved, never returned */
#define KLASPNET_E_INVALID (-8)      /* invalid input: settings, entry, URL, transport record, arguments */
#define KLASPNET_E_BUFFER (-9)       /* output buffer missing or too small for the result JSON */
/* clang-format on */

/* ---- Transport interfaces (layouts shared with the host by memory) ---- */

/* Host transport, interface version 1 (32 bytes). Identified by (get, ctx). */
typedef struct velkaron_io {
    void *ctx; /* opaque, passed back as the first argument of every callback */
    /* GET: on success returns 0 and stores a heap body (never null) and the final
       HTTP status; follows redirects itself. On failure returns nonzero and may
       store an error text. Both texts are released through `free`. */
    int32_t (*get)(void *ctx, const char *url, char **body, int32_t *status, char **error);
    /* POST: never called by this library. */
    int32_t (*post)(void *ctx, const char *url, const void *data, size_t data_len, char **body, int32_t *status,
                    char **error);
    /* Releases a body or error text; null means the C library's free(). */
    void (*free)(void *ctx, void *p);
} velkaron_io;

/* Request record handed to velkaron_http.request (104 bytes, read-only for the transport). */
typedef struct velkaron_http_req {
    uint32_t size; /* 104 */
    uint32_t reserved0;
    const char *method;         /* "GET" */
    const char *url;            /* absolute http(s) URL, never with credentials */
    const char *const *headers; /* "Name: value" lines */
    uint64_t header_count;
    uint64_t reserved1;
    uint64_t reserved2;
    const char *user;     /* user name to present, or null */
    const char *password; /* password ("" when none), null when user is null */
    uint32_t timeout_ms;  /* 120000 */
    uint32_t reserved3;
    /* Called once per response header, ":status" first; nonzero asks the transport to stop. */
    int32_t (*on_header)(void *cb_ctx, const char *name, const char *value);
    /* Called with consecutive body pieces; nonzero asks the transport to stop. */
    int32_t (*on_body)(void *cb_ctx, const void *data, uint64_t len);
    void *cb_ctx;
} velkaron_http_req;

/* HTTP extension of a transport (32 bytes): one exchange per request, no redirects followed. */
typedef struct velkaron_http {
    uint32_t size;    /* at least 32 */
    uint32_t version; /* 1 */
    void *ctx;
    /* Returns 0 when an HTTP response (any status) was obtained, nonzero on failure
       (optionally storing an error text released through `free`). */
    int32_t (*request)(void *ctx, const velkaron_http_req *req, int32_t *status, char **error);
    void (*free)(void *ctx, void *p); /* null means the C library's free() */
} velkaron_http;

/* ---- Handler table ---- */

typedef int32_t (*klaspnet_validate_fn)(const velkaron_io *io, const char *settings_json, char *dst, int32_t dst_len);
typedef int32_t (*klaspnet_list_fn)(const velkaron_io *io, const char *settings_json, const char *folder_id, char *dst,
                                    int32_t dst_len);
typedef int32_t (*klaspnet_entry_fn)(const velkaron_io *io, const char *settings_json, const char *entry_json,
                                     char *dst, int32_t dst_len);

typedef struct klaspnet_handler {
    const char *runtime_type; /* "ASPNET" */
    uint32_t caps;            /* 0x23 */
    klaspnet_validate_fn validate;
    klaspnet_list_fn list;
    klaspnet_entry_fn stream_url;
    klaspnet_entry_fn download; /* always refuses with KLASPNET_E_UNSUPPORTED */
} klaspnet_handler;

/* ---- The 21 exports ---- */

/* Validates settings with the current transport; dst receives the proposed settings,
   the full report is published (klaspnet_result_json). */
KLASPNET_API int32_t klaspnet_validate(const char *settings_json, char *dst, int32_t dst_len);
/* Lists a folder (folder_id: path below the root; null or "" is the root); dst receives {"items":[...]}. */
KLASPNET_API int32_t klaspnet_list(const char *settings_json, const char *folder_id, char *dst, int32_t dst_len);
/* Gives a file's URL and, when the root has credentials, its Basic authorization header. No I/O. */
KLASPNET_API int32_t klaspnet_stream_url(const char *settings_json, const char *entry_json, char *dst, int32_t dst_len);
/* Always refuses with KLASPNET_E_UNSUPPORTED: the source is read-only. */
KLASPNET_API int32_t klaspnet_download(const char *settings_json, const char *entry_json, char *dst, int32_t dst_len);
/* Reports a file's size through a one-byte Range request; needs a velkaron_http extension. */
KLASPNET_API int32_t klaspnet_stat(const char *settings_json, const char *path, char *dst, int32_t dst_len);
/* Parses a listing page the host already holds (page_url: absolute http(s) URL it came from). No I/O. */
KLASPNET_API int32_t klaspnet_parse(const char *html, const char *page_url, char *dst, int32_t dst_len);
/* Last error message ("" after a success); valid until the next call of this function from any thread. */
KLASPNET_API const char *klaspnet_last_error(void);
/* Last published result JSON ("{}" when none); valid until the next call of this function from any thread. */
KLASPNET_API const char *klaspnet_result_json(void);
/* Constant: KLASPNET_VERSION_STRING. */
KLASPNET_API const char *klaspnet_version(void);
/* Constant "ASPNET". */
KLASPNET_API const char *klaspnet_runtime_type(void);
/* Constant 35 (0x23). */
KLASPNET_API int32_t klaspnet_caps(void);
/* The constant handler table; its operations may be called with a transport of the host's choosing. */
KLASPNET_API const klaspnet_handler *klrch_get(void);
/* Installs a copy of the host's transport (null: back to the default, absent here). -8 when get is null. */
KLASPNET_API int32_t klaspnet_set_io(const velkaron_io *io);
/* Selects the default transport; KLASPNET_E_UNSUPPORTED when the build has none. */
KLASPNET_API int32_t klaspnet_use_curl(void);
/* Selects the built-in scripted fake transport; always 0. */
KLASPNET_API int32_t klaspnet_use_fake(void);
/* Binds (http non-null) or unbinds (null) an HTTP extension for the transport (get, ctx) of io.
   The http record is kept by pointer and must stay valid while bound. 0 or -8. */
KLASPNET_API int32_t klaspnet_bind_http(const velkaron_io *io, const velkaron_http *http);
/* Clears the fake transport's script and counters. */
KLASPNET_API void klaspnet_fake_reset(void);
/* Scripts a page for a URL (header_text: "Name: value" lines separated by LF, or null). 0, -8 or -5. */
KLASPNET_API int32_t klaspnet_fake_set(const char *url, int32_t status, const char *header_text, const char *body);
/* Scripts a transport failure for a URL (message null: "fake: transport failure"). 0, -8 or -5. */
KLASPNET_API int32_t klaspnet_fake_fail(const char *url, const char *message);
/* Requests seen by the fake: in total (url null) or for one scripted URL. */
KLASPNET_API uint32_t klaspnet_fake_calls(const char *url);
/* JSON {"calls":N,"range":...,"auth":...} about the last request to url; valid until the next call or reset. */
KLASPNET_API const char *klaspnet_fake_last_request(const char *url);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layouts are part of the interface: pin them (64-bit platforms). */
#if defined(__cplusplus)
#  define KLASPNET_STATIC_ASSERT(c, m) static_assert(c, m)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#  define KLASPNET_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
#if defined(KLASPNET_STATIC_ASSERT) && UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
KLASPNET_STATIC_ASSERT(sizeof(velkaron_io) == 32, "velkaron_io is 32 bytes");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_io, ctx) == 0, "velkaron_io.ctx");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_io, get) == 8, "velkaron_io.get");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_io, post) == 16, "velkaron_io.post");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_io, free) == 24, "velkaron_io.free");
KLASPNET_STATIC_ASSERT(sizeof(velkaron_http) == 32, "velkaron_http is 32 bytes");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http, size) == 0, "velkaron_http.size");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http, version) == 4, "velkaron_http.version");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http, ctx) == 8, "velkaron_http.ctx");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http, request) == 16, "velkaron_http.request");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http, free) == 24, "velkaron_http.free");
KLASPNET_STATIC_ASSERT(sizeof(velkaron_http_req) == 104, "velkaron_http_req is 104 bytes");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, size) == 0, "req.size");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, method) == 8, "req.method");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, url) == 16, "req.url");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, headers) == 24, "req.headers");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, header_count) == 32, "req.header_count");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, reserved1) == 40, "req.reserved1");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, reserved2) == 48, "req.reserved2");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, user) == 56, "req.user");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, password) == 64, "req.password");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, timeout_ms) == 72, "req.timeout_ms");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, on_header) == 80, "req.on_header");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, on_body) == 88, "req.on_body");
KLASPNET_STATIC_ASSERT(offsetof(velkaron_http_req, cb_ctx) == 96, "req.cb_ctx");
KLASPNET_STATIC_ASSERT(offsetof(klaspnet_handler, runtime_type) == 0, "handler.runtime_type");
KLASPNET_STATIC_ASSERT(offsetof(klaspnet_handler, caps) == 8, "handler.caps");
KLASPNET_STATIC_ASSERT(offsetof(klaspnet_handler, validate) == 16, "handler.validate");
KLASPNET_STATIC_ASSERT(offsetof(klaspnet_handler, list) == 24, "handler.list");
KLASPNET_STATIC_ASSERT(offsetof(klaspnet_handler, stream_url) == 32, "handler.stream_url");
KLASPNET_STATIC_ASSERT(offsetof(klaspnet_handler, download) == 40, "handler.download");
#endif

#endif /* KLASPNET_KLASPNET_H */
