// SPDX-License-Identifier: MIT
// GoogleTest's main for the GUI tests: the widgets need a QApplication, but listing the tests (as
// the build does) must work without any display.

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests))
        return RUN_ALL_TESTS();
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
