// The main() of the Qt test programs: Qt's offscreen platform (no display is ever opened), the
// widget style and dialog font of the console, then the tests.
#include <QApplication>
#include <QFont>
#include <QStyleFactory>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(8);
    QApplication::setFont(font);
    return RUN_ALL_TESTS();
}
