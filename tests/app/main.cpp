#include "app/TApplication.h"
#include "tests/common/TestEnvironment.h"

#include <gtest/gtest.h>

// The application tests need the program's own application object, whose notify() is under test.
int main(int argc, char **argv)
{
    PrepareTestEnvironment();
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
