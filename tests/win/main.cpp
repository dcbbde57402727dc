// The Windows test program: the tests, or one child role when started as
// `kestrel_win_tests --kestrel-child=ROLE ARG...` by a cross-process test.
#include <gtest/gtest.h>

#include <cstring>

#include "win/child.h"

int main(int argc, char** argv) {
    const char kChild[] = "--kestrel-child=";
    if (argc > 1 && std::strncmp(argv[1], kChild, sizeof kChild - 1) == 0) {
        std::vector<std::string> args(argv + 2, argv + argc);
        return wintest::RunChildRole(argv[1] + sizeof kChild - 1, args);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
