// The viewer's tests need a QApplication; without a platform chosen they use the
// offscreen one, so they never need a display (ctest's test discovery runs this
// binary without the tests' environment).
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char *argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
