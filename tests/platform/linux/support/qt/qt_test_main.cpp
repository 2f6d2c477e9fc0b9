#include <gtest/gtest.h>

#include <QCoreApplication>

#include "support/qt_spin.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    tamborix::testing::settle();
    return result;
}
