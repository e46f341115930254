// Reference resolution and the child-name test:
//  - a resolved URL resolved again against the same base is unchanged, and
//    against itself with an empty reference loses only its fragment;
//  - a result that does not fit the buffer is refused whole;
//  - every child name obeys the name rules;
//  - a name that obeys them, percent-encoded under the page's folder, comes
//    back unchanged as a child.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "listing/kldlp.h"
#include "props.h"

namespace {

const char *const k_bases[] = {
    "http://a/b/c/d;p?q",
    "http://h",
    "https://H:8080/a%20b/index.html#f",
    "http://h/music/",
    "s:",
    "http:///x/../y",
    "HTTP://h/./a/../b/",
    "http://u:p@h/m/?q#f",
};

std::string resolve(const std::string &base, const std::string &ref, size_t size, int *rc)
{
    std::vector<char> dst(size ? size : 1, '#');
    *rc = kldlp_resolve(base.c_str(), ref.c_str(), dst.data(), size);
    std::string out(dst.data(), strnlen(dst.data(), dst.size()));
    if (*rc != 0 && size) PROP(out.empty(), "failed resolution left text: " + out);
    return out;
}

void check_child(const std::string &page, const std::string &link)
{
    char *name = reinterpret_cast<char *>(1);
    int folder = 7;
    int rc = kldlp_child_name(page.c_str(), link.c_str(), &name, &folder);
    PROP(rc >= -1 && rc <= 1, "child status " + std::to_string(rc));
    if (rc == 1) {
        PROP(name != nullptr, "child without name");
        PROP(name_rules(name, std::strlen(name)), page + " | " + link + " -> [" + name + "]");
        PROP(folder == 0 || folder == 1, "folder flag " + std::to_string(folder));
    } else {
        PROP(name == nullptr, "name handed out with status " + std::to_string(rc));
        PROP(folder == 0, "folder flag set with status " + std::to_string(rc));
    }
    std::free(name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string in(reinterpret_cast<const char *>(data), size);
    if (in.find('\0') != std::string::npos) return 0;
    std::string base, ref;
    size_t nl = in.find('\n');
    if (nl != std::string::npos) {
        base = in.substr(0, nl);
        ref = in.substr(nl + 1);
    } else if (!in.empty()) {
        base = k_bases[static_cast<unsigned char>(in[0]) % (sizeof k_bases / sizeof k_bases[0])];
        ref = in.substr(1);
    }

    int rc;
    std::string t = resolve(base, ref, base.size() + ref.size() + 8, &rc);
    if (rc == 0) {
        int rc2;
        std::string again = resolve(base, t, base.size() + t.size() + 8, &rc2);
        PROP(rc2 == 0 && again == t, "base [" + base + "] ref [" + ref + "] -> [" + t + "] -> [" + again + "]");
        std::string self = resolve(t, "", t.size() + 8, &rc2);
        std::string unfragmented = t.substr(0, t.find('#'));
        PROP(rc2 == 0 && self == unfragmented, "[" + t + "] against itself -> [" + self + "]");
        // Exactly the room it needs, and one byte less.
        std::string fit = resolve(base, ref, t.size() + 1, &rc2);
        PROP(rc2 == 0 && fit == t, "exact buffer: [" + fit + "]");
        resolve(base, ref, t.size(), &rc2);
        PROP(rc2 == -1, "a result one byte too long was accepted");
        check_child(base, t);
    }

    // Any bytes that obey the name rules survive encoding and the child test.
    if (name_rules(ref.data(), ref.size()) && ref.size() <= 4096) {
        const std::string page = "http://h/a%20b/index.html";
        for (int folder = 0; folder < 2; ++folder) {
            std::string link = "http://h/a b/" + ktest::pct_encode(ref) + (folder ? "/" : "");
            char *name = nullptr;
            int f = -1;
            int c = kldlp_child_name(page.c_str(), link.c_str(), &name, &f);
            PROP(c == 1 && name && ref == name && f == folder,
                 "[" + ref + "] as " + link + " -> " + std::to_string(c) + " [" + (name ? name : "") + "]");
            std::free(name);
        }
    }
    return 0;
}
