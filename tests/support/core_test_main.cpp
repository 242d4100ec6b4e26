#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests of the layers below the windows run with a core application, so that code posting work
// to the main thread has an event loop to post to.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
