#pragma once

namespace korrin {

// Makes sure that descriptors 0, 1 and 2 are open, before anything else opens a file or a
// socket: a closed one would otherwise be handed to the next file or socket opened (the
// connection, libcurl's own wake-up pair), and the body or a console message written to standard
// output would go into it. A closed descriptor is
// replaced by /dev/null opened read-only, so that a read there ends at once and a write there
// fails. Returns false when a closed descriptor could not be replaced.
bool EnsureStandardDescriptors();

}  // namespace korrin
