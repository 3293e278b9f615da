// Test entry point: widgets need an application object, and tests run
// headless unless told otherwise. The simulated controllers keep nothing
// between programs unless a test names a folder of its own, so that tests
// running at once never share one (a test's programs inherit this).
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    if (!qEnvironmentVariableIsSet("KVX340_SIM_STATE_DIR"))
        qputenv("KVX340_SIM_STATE_DIR", "off");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KVX-340"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
