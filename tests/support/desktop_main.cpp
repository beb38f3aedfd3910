// The main of the end-to-end test programs: one desktop for the whole program, under the
// window manager that --window-manager names (openbox unless it does).

#include "tests/support/desktop.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    desktop::readWindowManagerOption(argc, argv);
    ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);
    return RUN_ALL_TESTS();
}
