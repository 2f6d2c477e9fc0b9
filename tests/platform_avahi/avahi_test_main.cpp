#include <gtest/gtest.h>

#include <QCoreApplication>

#include "private_services.h"
#include "qt_test_support.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tamborix::testing::TempFolder busFolder;
    tamborix::testing::useSharedBusFolder(busFolder.path());
    QCoreApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    tamborix::testing::settle();
    return result;
}
