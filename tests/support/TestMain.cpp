// Start-up shared by every test program: a headless QApplication and private folders for the
// settings store and the log files, so tests never touch the machine's own configuration and can run
// in parallel.
#include <gtest/gtest.h>

#include <QApplication>

#include "support/TestSupport.h"

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testsupport::preparePrivateFolders();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    testsupport::removePrivateFolders();
    return rc;
}
