#pragma once

#include <string>

namespace korrin {

// Whether every folder named in folders can be opened and listed: the names are separated by ':',
// as OpenSSL reads a list of folders of certificates under hashed names, and empty names are
// skipped. OpenSSL looks into such a folder only when it needs a certificate, and then takes one
// that cannot be opened for one that holds nothing, so an unreadable folder must be found here,
// before it is trusted in place of the system's store.
bool CertificateFoldersReadable(const std::string& folders);

}  // namespace korrin
