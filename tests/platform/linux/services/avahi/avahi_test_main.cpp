#include <gtest/gtest.h>

#include <QCoreApplication>

#include "private_services.h"
#include "support/qt_spin.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tamborix::testing::TempFolder busFolder;
    tamborix::testing::useSharedBusFolder(busFolder.path());
    QCoreApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    tamborix::testing::settle();
    return result;
}
