#include <QApplication>
#include <gtest/gtest.h>

// Window tests need a full application object (offscreen platform unless a display is given).
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
