// Credentials and the settings text: where the user name and the password
// come from (the URL, --user with a password file, the environment, a
// netrc file or the terminal), and the settings JSON that carries them to
// the library. Every text that holds a password is wiped before release.
#pragma once

#include <cstddef>

namespace klaspnet::tool {

struct options;

// The settings JSON for URL (with the credentials the options lead to) in
// *settings, released with klaspnet_free_secret. 0, or an exit status after
// a message.
int build_settings(const options &o, const char *url, char **settings);

// ---- pieces, exposed for their tests ----------------------------------------

// The host of an absolute URL, without userinfo, port or IPv6 brackets; ""
// when there is none.
void url_host(const char *url, char *host, size_t cap);
// True when the URL's authority carries userinfo ("user@" or "user:pw@").
bool url_has_userinfo(const char *url);

// The entry of a netrc text (as curl and ftp read it: "machine HOST",
// "default", "login", "password", "account", "macdef" blocks, quoted
// tokens) for host, and when login is not null for that login. The first
// matching machine wins; "default" serves a host no machine names. The
// outputs are heap texts (null when the entry lacks one) to release with
// klaspnet_free_secret. False when no entry matches or memory runs out.
bool netrc_lookup(const char *text, size_t len, const char *host, const char *login, char **login_out,
                  char **password_out);

// The URL with user:password as its userinfo (percent-encoded), in place of
// any it had; null without a scheme or memory.
char *url_with_credentials(const char *url, const char *user, const char *password);

} // namespace klaspnet::tool
