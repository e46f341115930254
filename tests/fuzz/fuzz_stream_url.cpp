// Settings and entry documents through the stream URL operation:
//  - every status is one the operation documents, with the error JSON of
//    exactly that status and message in the buffer;
//  - settings that fail to load fail the operation with the same message;
//  - a stream URL is an http(s) URL without user information, the header is
//    "Basic " and Base64, and the published summary never carries the header.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <yyjson.h>

#include "klaspnet/klaspnet.h"
#include "props.h"
#include "source/cfg.h"
#include "source/ops.h"

using namespace klaspnet::detail;

namespace {

const char *const k_settings[] = {
    "{\"URL\":\"http://h/m\"}",
    "{\"URL\":\"http://user1:Secr3tPw@h/m/\"}",
    "{\"URL\":\"https://@H:8443/a%20b\",\"ID\":\"x\"}",
};

bool base64_text(const std::string &s)
{
    if (s.size() % 4) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!(alnum || c == '+' || c == '/' || (c == '=' && i + 2 >= s.size()))) return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string in(reinterpret_cast<const char *>(data), size);
    std::string settings, entry;
    size_t cut = in.find('\0');
    if (cut != std::string::npos) {
        settings = in.substr(0, cut);
        entry = in.substr(cut + 1);
        entry = entry.substr(0, entry.find('\0'));
    } else if (!in.empty()) {
        settings = k_settings[static_cast<unsigned char>(in[0]) % 3];
        entry = in.substr(1);
    }

    static char dst[1 << 16];
    std::memset(dst, '#', 64);
    int rc = h_stream_url(nullptr, settings.c_str(), entry.c_str(), dst, sizeof dst);
    std::string out = dst;
    std::string err = klaspnet_last_error();
    std::string res = klaspnet_result_json();

    klaspnet_cfg cfg;
    int loaded = load_cfg(settings.c_str(), &cfg);
    std::string cfg_msg = cfg.msg;
    klaspnet_root_free(&cfg.root);
    if (loaded != 0)
        PROP(rc == KLASPNET_E_INVALID && err == cfg_msg, "settings refused with [" + cfg_msg + "], op: " + err);

    PROP(rc == 0 || rc == KLASPNET_E_NOT_FOUND || rc == KLASPNET_E_INVALID, "status " + std::to_string(rc) + " " + err);
    if (rc != 0) {
        PROP(out == error_json(err, rc), "buffer [" + out + "] for " + err);
        PROP(res == out, "published [" + res + "]");
        return 0;
    }
    PROP(err.empty(), err);
    yyjson_doc *d = yyjson_read(out.data(), out.size(), 0);
    PROP(d != nullptr, "invalid JSON " + out);
    yyjson_val *root = yyjson_doc_get_root(d);
    const char *url = yyjson_get_str(yyjson_obj_get(root, "url"));
    PROP(url != nullptr, out);
    url_view u = split_url(url);
    PROP(u.ok && (u.scheme == "http" || u.scheme == "https"), out);
    PROP(u.authority.find('@') == std::string::npos, "user information in " + out);
    PROP(std::strlen(url) <= 8192, "URL longer than 8192 bytes");
    yyjson_val *headers = yyjson_obj_get(root, "headers");
    if (headers) {
        const char *auth = yyjson_get_str(yyjson_obj_get(headers, "Authorization"));
        PROP(auth && std::strncmp(auth, "Basic ", 6) == 0 && base64_text(auth + 6), out);
    }
    yyjson_mut_doc *m = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *obj = yyjson_mut_obj(m);
    yyjson_mut_doc_set_root(m, obj);
    yyjson_mut_obj_add_str(m, obj, "op", "stream_url");
    yyjson_mut_obj_add_int(m, obj, "code", 0);
    yyjson_mut_obj_add_str(m, obj, "url", url);
    yyjson_mut_obj_add_bool(m, obj, "auth_header", headers != nullptr);
    char *w = yyjson_mut_write(m, 0, nullptr);
    std::string want = w ? w : "";
    std::free(w);
    yyjson_mut_doc_free(m);
    yyjson_doc_free(d);
    PROP(res == want, "summary [" + res + "] expected [" + want + "]");
    return 0;
}
