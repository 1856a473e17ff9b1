// The yardstick for start-up: the barest Qt Widgets program with a window of four
// buttons and a label, as large as Tarlivo's start window.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Qt Baseline"));
    window.resize(449, 313);
    auto *label = new QLabel(QStringLiteral("Baseline"), &window);
    label->setGeometry(80, 64, 289, 33);
    const char *captions[] = {"Eins", "Zwei", "Drei", "Vier"};
    for (int i = 0; i < 4; ++i) {
        auto *button = new QPushButton(QString::fromLatin1(captions[i]), &window);
        button->setGeometry(56 + (i % 2) * 184, 144 + (i / 2) * 72, 153, 33);
    }
    window.show();
    return app.exec();
}
