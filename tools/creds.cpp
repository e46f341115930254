#include "tools/creds.h"

#include <yyjson.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/chars.h"
#include "common/text.h"
#include "common/wipe.h"
#include "tools/cli.h"
#include "tools/show.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace klaspnet::tool {

namespace {

// ---- reading secrets ----------------------------------------------------------

// Reads the first line of a file, or of the terminal with echo off. Every
// block that held a part of it is wiped before it is released.
char *read_line(FILE *f)
{
    size_t cap = 128, len = 0;
    char *s = static_cast<char *>(std::malloc(cap));
    if (!s) return nullptr;
    int ch;
    while ((ch = std::fgetc(f)) != EOF && ch != '\n') {
        if (len + 2 > cap) {
            char *n = static_cast<char *>(std::malloc(cap * 2));
            if (!n) {
                klaspnet_wipe(s, cap);
                std::free(s);
                return nullptr;
            }
            std::memcpy(n, s, len);
            klaspnet_wipe(s, cap);
            std::free(s);
            s = n;
            cap *= 2;
        }
        s[len++] = static_cast<char>(ch);
    }
    if (len > 0 && s[len - 1] == '\r') len--;
    s[len] = '\0';
    return s;
}

// A whole file in a heap text; null (after a message) when it cannot be read.
char *read_secret_file(const char *cmd, const char *path, size_t *len_out)
{
    FILE *f = std::fopen(path, "rb");
    if (!f) {
        say(cmd, std::string("cannot read ") + path + ": " + std::strerror(errno));
        return nullptr;
    }
    size_t cap = 4096, len = 0;
    char *buf = static_cast<char *>(std::malloc(cap));
    while (buf) {
        len += std::fread(buf + len, 1, cap - len - 1, f);
        if (len + 1 < cap) break;
        char *n = static_cast<char *>(std::malloc(cap * 2));
        if (n) std::memcpy(n, buf, len);
        klaspnet_wipe(buf, cap);
        std::free(buf);
        buf = n;
        cap *= 2;
    }
    const bool err = std::ferror(f) != 0;
    std::fclose(f);
    if (!buf || err) {
        if (buf) klaspnet_wipe(buf, cap);
        std::free(buf);
        say(cmd, std::string("cannot read ") + path);
        return nullptr;
    }
    buf[len] = '\0';
    *len_out = len;
    return buf;
}

char *read_password_file(const char *cmd, const char *path)
{
    FILE *f = std::strcmp(path, "-") ? std::fopen(path, "rb") : stdin;
    if (!f) {
        say(cmd, std::string("cannot open password file ") + path + ": " + std::strerror(errno));
        return nullptr;
    }
    char *s = read_line(f);
    if (f != stdin) std::fclose(f);
    if (!s) say(cmd, "out of memory");
    return s;
}

// The terminal's settings while the password is typed without echo; a
// Ctrl-C then puts them back before the tool ends as the signal says.
int g_tty_fd = -1;
termios g_tty_saved{};

extern "C" void restore_tty_and_stop(int sig)
{
    if (g_tty_fd >= 0) tcsetattr(g_tty_fd, TCSAFLUSH, &g_tty_saved);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

char *read_password_tty(const char *cmd, const char *user)
{
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0) {
        say(cmd, "no terminal to ask the password on; use --password-file, KLASPNET_PASSWORD or --netrc");
        return nullptr;
    }
    FILE *tty = fdopen(fd, "r+");
    if (!tty) {
        close(fd);
        return nullptr;
    }
    const bool restore = tcgetattr(fd, &g_tty_saved) == 0;
    if (restore) {
        g_tty_fd = fd;
        std::signal(SIGINT, restore_tty_and_stop);
        std::signal(SIGTERM, restore_tty_and_stop);
        termios quiet = g_tty_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        tcsetattr(fd, TCSAFLUSH, &quiet);
    }
    std::string prompt = "Password for " + shown(user) + ": ";
    std::fputs(prompt.c_str(), tty);
    std::fflush(tty);
    char *s = read_line(tty);
    if (restore) {
        tcsetattr(fd, TCSAFLUSH, &g_tty_saved);
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        g_tty_fd = -1;
    }
    std::fclose(tty);
    return s;
}

// KLASPNET_PASSWORD, copied; the variable's own bytes are then cleared and
// it leaves the environment, so that no child and no later reader of this
// process's environment sees it.
char *password_from_environment()
{
    char *v = std::getenv("KLASPNET_PASSWORD");
    if (!v) return nullptr;
    const size_t n = std::strlen(v);
    char *copy = static_cast<char *>(std::malloc(n + 1));
    if (copy) std::memcpy(copy, v, n + 1);
    klaspnet_wipe(v, n);
    unsetenv("KLASPNET_PASSWORD");
    return copy;
}

// ---- netrc --------------------------------------------------------------------

// The next token of a netrc text, NUL-terminated in place (quoted tokens
// lose their quotes and escapes); null at the end. A '#' that starts a
// token comments out the rest of its line.
char *next_token(char *&p, char *end)
{
    for (;;) {
        while (p < end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) p++;
        if (p >= end) return nullptr;
        if (*p != '#') break;
        while (p < end && *p != '\n') p++;
    }
    char *tok = p, *o = p;
    if (*p == '"') {
        for (p++; p < end && *p != '"'; p++) {
            if (*p == '\\' && p + 1 < end) p++;
            *o++ = *p;
        }
        if (p < end) p++;
    } else {
        while (p < end && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') *o++ = *p++;
    }
    if (p < end) p++; // the separator is no part of what follows
    *o = '\0';
    return tok;
}

// A macdef body runs to the first empty line; p stands at the start of the
// line after "macdef NAME".
void skip_macro(char *&p, char *end)
{
    while (p < end && *p != '\n' && !(*p == '\r' && p + 1 < end && p[1] == '\n')) {
        char *nl = static_cast<char *>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        p = nl ? nl + 1 : end;
    }
}

bool same_host(const char *a, const char *b)
{
    const size_t n = std::strlen(a);
    return n == std::strlen(b) && klaspnet::text::ci_equal(a, b, n);
}

char *copy_text(const char *s)
{
    if (!s) return nullptr;
    const size_t n = std::strlen(s);
    char *c = static_cast<char *>(std::malloc(n + 1));
    if (c) std::memcpy(c, s, n + 1);
    return c;
}

} // namespace

bool netrc_lookup(const char *text, size_t len, const char *host, const char *login, char **login_out,
                  char **password_out)
{
    *login_out = *password_out = nullptr;
    char *buf = static_cast<char *>(std::malloc(len + 1));
    if (!buf) return false;
    std::memcpy(buf, text, len);
    buf[len] = '\0';
    char *p = buf, *end = buf + len;
    // The entry being read: whether it serves this host, and its values.
    bool in_entry = false, matches = false;
    const char *e_login = nullptr, *e_password = nullptr;
    bool found = false, closed = false;
    auto close_entry = [&] {
        if (in_entry && matches && (!login || (e_login && std::strcmp(e_login, login) == 0))) {
            *login_out = copy_text(e_login);
            *password_out = copy_text(e_password);
            found = (!e_login || *login_out) && (!e_password || *password_out);
            return true;
        }
        return false;
    };
    for (char *tok; (tok = next_token(p, end));) {
        if (!std::strcmp(tok, "machine") || !std::strcmp(tok, "default")) {
            if ((closed = close_entry())) break;
            const bool is_default = tok[0] == 'd';
            const char *name = is_default ? nullptr : next_token(p, end);
            in_entry = true;
            matches = is_default || (name && same_host(name, host));
            e_login = e_password = nullptr;
        } else if (!std::strcmp(tok, "login")) {
            e_login = next_token(p, end);
        } else if (!std::strcmp(tok, "password")) {
            e_password = next_token(p, end);
        } else if (!std::strcmp(tok, "account")) {
            next_token(p, end);
        } else if (!std::strcmp(tok, "macdef")) {
            next_token(p, end);
            skip_macro(p, end);
        }
    }
    if (!closed) close_entry();
    klaspnet_wipe(buf, len);
    std::free(buf);
    if (!found) {
        klaspnet_free_secret(*login_out);
        klaspnet_free_secret(*password_out);
        *login_out = *password_out = nullptr;
    }
    return found;
}

void url_host(const char *url, char *host, size_t cap)
{
    host[0] = '\0';
    const char *sep = std::strstr(url, "://");
    if (!sep || cap == 0) return;
    const char *a = sep + 3;
    const size_t alen = std::strcspn(a, "/?#");
    const char *b = a;
    for (size_t i = 0; i < alen; i++)
        if (a[i] == '@') b = a + i + 1;
    const char *e = a + alen;
    if (b < e && *b == '[') { // [v6 address]:port
        const char *close = static_cast<const char *>(std::memchr(b, ']', static_cast<size_t>(e - b)));
        if (!close) return;
        b++;
        e = close;
    } else {
        const char *colon = static_cast<const char *>(std::memchr(b, ':', static_cast<size_t>(e - b)));
        if (colon) e = colon;
    }
    const size_t n = static_cast<size_t>(e - b) < cap - 1 ? static_cast<size_t>(e - b) : cap - 1;
    std::memcpy(host, b, n);
    host[n] = '\0';
}

bool url_has_userinfo(const char *url)
{
    const char *sep = std::strstr(url, "://");
    if (!sep) return false;
    const char *a = sep + 3;
    const size_t alen = std::strcspn(a, "/?#");
    return std::memchr(a, '@', alen) != nullptr;
}

char *url_with_credentials(const char *url, const char *user, const char *password)
{
    const char *sep = std::strstr(url, "://");
    if (!sep) return nullptr; // the library reports the scheme; keep the URL as it is
    const char *auth = sep + 3;
    size_t auth_len = std::strcspn(auth, "/?#");
    const char *at = nullptr;
    for (size_t i = 0; i < auth_len; i++)
        if (auth[i] == '@') at = auth + i;
    const char *host = at ? at + 1 : auth;
    using namespace klaspnet::text;
    const size_t nu = std::strlen(user), np = std::strlen(password), rest = std::strlen(host);
    const size_t head = static_cast<size_t>(auth - url);
    const size_t cap = head + pct_encoded_size(user, nu, k_keep_unreserved) +
                       pct_encoded_size(password, np, k_keep_unreserved) + rest + 3;
    char *out = static_cast<char *>(std::malloc(cap));
    if (!out) return nullptr;
    std::memcpy(out, url, head);
    char *o = pct_encode_to(out + head, user, nu, k_keep_unreserved);
    *o++ = ':';
    o = pct_encode_to(o, password, np, k_keep_unreserved);
    *o++ = '@';
    std::memcpy(o, host, rest + 1);
    return out;
}

namespace {

// {"URL":url,"DateOrder":order}; every block that held the URL is wiped.
char *settings_json(const char *url, const char *date_order)
{
    yyjson_mut_doc *doc = yyjson_mut_doc_new(klaspnet_wipe_alc());
    if (!doc) return nullptr;
    yyjson_mut_val *root = yyjson_mut_obj(doc);
    yyjson_mut_doc_set_root(doc, root);
    yyjson_mut_obj_add_str(doc, root, "URL", url); // referenced, not copied
    if (date_order) yyjson_mut_obj_add_str(doc, root, "DateOrder", date_order);
    size_t len = 0;
    char *text = yyjson_mut_write_opts(doc, 0, klaspnet_wipe_alc(), &len, nullptr);
    yyjson_mut_doc_free(doc);
    if (!text) return nullptr;
    char *plain = static_cast<char *>(std::malloc(len + 1));
    if (plain) std::memcpy(plain, text, len + 1);
    klaspnet_wipe_alc()->free(nullptr, text);
    return plain;
}

// The netrc entry for the URL's host (and user, when one is known).
int netrc_entry(const options &o, const char *url, const char *user, char **login, char **password)
{
    *login = *password = nullptr;
    std::string path;
    if (o.netrc_file) {
        path = o.netrc_file;
    } else {
        const char *home = std::getenv("HOME");
        if (!home || !*home) return 0;
        path = std::string(home) + "/.netrc";
        if (access(path.c_str(), F_OK) != 0) return 0; // --netrc without a file: no entry, as curl
    }
    size_t len = 0;
    char *text = read_secret_file(o.cmd, path.c_str(), &len);
    if (!text) return k_exit_local;
    char host[256];
    url_host(url, host, sizeof host);
    netrc_lookup(text, len, host, user, login, password);
    klaspnet_wipe(text, len);
    std::free(text);
    return 0;
}

} // namespace

int build_settings(const options &o, const char *url, char **settings)
{
    *settings = nullptr;
    const bool use_netrc = o.netrc || o.netrc_file;
    char *login = nullptr, *password = nullptr;
    int ex = 0;
    // Who: --user, else the URL's own userinfo (used as written), else netrc.
    if (use_netrc && (o.user || !url_has_userinfo(url))) ex = netrc_entry(o, url, o.user, &login, &password);
    const char *user = o.user ? o.user : login;
    if (ex == 0 && user) {
        // The password: a file, the environment, netrc, else the terminal.
        char *given = o.password_file ? read_password_file(o.cmd, o.password_file) : password_from_environment();
        if (given) {
            klaspnet_free_secret(password);
            password = given;
        } else if (o.password_file) {
            ex = k_exit_local;
        } else if (!password) {
            password = read_password_tty(o.cmd, user);
            if (!password) ex = k_exit_local;
        }
    }
    char *with_creds = nullptr;
    if (ex == 0 && user) {
        with_creds = url_with_credentials(url, user, password);
        if (!with_creds) {
            say(o.cmd, "the URL has no scheme (http:// or https://)");
            ex = k_exit_usage;
        }
    }
    klaspnet_free_secret(login);
    klaspnet_free_secret(password);
    if (ex == 0) {
        *settings = settings_json(with_creds ? with_creds : url, o.date_order);
        if (!*settings) {
            say(o.cmd, "out of memory");
            ex = k_exit_local;
        }
    }
    klaspnet_free_secret(with_creds);
    return ex;
}

} // namespace klaspnet::tool
