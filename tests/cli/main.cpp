#include <QCoreApplication>
#include <gtest/gtest.h>

// A core application only: nothing here needs a display, and nothing may.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
