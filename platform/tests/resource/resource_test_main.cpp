// resource_test_main.cpp - runs the resource tests in IPC and mount namespaces of their own, so
// the semaphores and pools they make vanish with the process and parallel cases never meet;
// a `--resource-probe=` argument runs one probe instead (see resource_probes.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "resource_test_support.h"

int main(int argc, char** argv) {
    constexpr const char kProbe[] = "--resource-probe=";
    if (argc >= 2 && std::strncmp(argv[1], kProbe, sizeof kProbe - 1) == 0) {
        return rt::run_resource_probe(argv[1] + sizeof kProbe - 1, argc >= 3 ? argv[2] : "");
    }
    rt::enter_private_namespaces();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
