#include "support/texts.h"

#include <cstdlib>

#include <yyjson.h>

namespace ktest {

std::string pct_encode(std::string_view s)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
            c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string error_json(std::string_view message, int code)
{
    std::string out;
    yyjson_mut_doc *doc = yyjson_mut_doc_new(nullptr);
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_strn(doc, root, "error", message.data(), message.size());
    yyjson_mut_obj_add_int(doc, root, "code", code);
    if (char *t = yyjson_mut_write(doc, 0, nullptr)) {
        out = t;
        std::free(t);
    }
    yyjson_mut_doc_free(doc);
    return out;
}

bool json_ok(std::string_view text)
{
    yyjson_doc *d = yyjson_read(text.data(), text.size(), 0);
    const bool ok = d != nullptr;
    yyjson_doc_free(d);
    return ok;
}

} // namespace ktest
