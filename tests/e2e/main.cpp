#include "app/TApplication.h"

#include <gtest/gtest.h>

// The program's own application object, so errors reach its error box as they do in the program.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    TApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
