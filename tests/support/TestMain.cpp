// The entry of both test programs. The proxy variables are removed from the test process's own
// environment before any test runs, so that a proxy set on the machine reaches neither the
// downloads made in-process nor the programs started on a pseudo-terminal; RunProcess removes them
// once more for the children it starts, which a test may hand a proxy of its own.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy", "HTTP_PROXY",
                             "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"}) {
        unsetenv(name);
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
