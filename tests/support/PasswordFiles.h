#pragma once

#include <string>

namespace korrin::test {

// Writes a password file for Basic authentication (apache2's mod_authn_file, squid's
// basic_ncsa_auth) holding userName with password, made by apache2-utils' htpasswd (MD5-crypt,
// which both read). Throws std::runtime_error when htpasswd fails.
void WriteBasicPasswordFile(const std::string& path, const std::string& userName,
                            const std::string& password);

// Writes a password file for Digest authentication (apache2's mod_auth_digest, lighttpd's
// htdigest backend): "user:realm:MD5(user:realm:password)", as htdigest writes it.
void WriteDigestPasswordFile(const std::string& path, const std::string& userName,
                             const std::string& realm, const std::string& password);

}  // namespace korrin::test
