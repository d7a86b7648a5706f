// Runs the window tests in one hermetic environment, made before GTK reads
// it, so that neither GTK nor WebKit touches the real home. The system's data
// folders stay readable: GIO needs its schemas, or WebKit's network process
// stops.
#include <gtest/gtest.h>

#include "tests/unit/hermetic_env.hpp"

int main(int argc, char** argv) {
    vellumo::test::HermeticEnv env;
    env.set("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    env.set("MESA_SHADER_CACHE_DISABLE", "true");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
