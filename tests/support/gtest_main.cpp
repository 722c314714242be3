#include "skip_aware.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return corvane::test::runAllTestsShowingSkips();
}
