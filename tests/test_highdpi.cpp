#include "app/frmbackground.h"
#include "testapp.h"
#include "ui/form.h"

#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QtTest>

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

namespace {

// Whether the ink of one line of text, centred in room as buttons and labels draw
// it, stays inside room. The line's full height may overhang where the design's
// box is tight; letters without descenders still show whole.
bool inkFits(const QFontMetrics &metrics, const QString &text, const QRect &room, Qt::Alignment alignment)
{
    const int top = room.top() + (room.height() - metrics.height()) / 2;
    const int width = metrics.horizontalAdvance(text);
    int left = room.left();
    if (alignment & Qt::AlignHCenter)
        left += (room.width() - width) / 2;
    else if (alignment & Qt::AlignRight)
        left = room.right() + 1 - width;
    const QRect ink = metrics.tightBoundingRect(text).translated(left, top + metrics.ascent());
    return width <= room.width() && room.contains(ink);
}

} // namespace

// Run with QT_SCALE_FACTOR=2 (see CMakeLists.txt); test_designs runs there too and
// checks every size and position against the designs in device-independent pixels.
class TestHighDpi : public QObject {
    Q_OBJECT

private slots:
    void windowsAreDrawnAtTheScale_data()
    {
        QTest::addColumn<int>("window");
        const char *names[] = {"frmWelcome", "frmBackground", "frmGebiete", "frmNeu", "frmUeb", "frmEdit"};
        for (int i = 0; i < 6; ++i)
            QTest::newRow(names[i]) << i;
    }

    void windowsAreDrawnAtTheScale()
    {
        QFETCH(int, window);
        const qreal scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1").toDouble();
        TestApp app;
        Forms &f = *app.forms;
        Form *forms[] = {&f.window<FrmWelcome>(), &f.window<FrmBackground>(), &f.window<FrmGebiete>(),
                         &f.window<FrmNeu>(),     &f.window<FrmUeb>(),        &f.window<FrmEdit>()};
        Form &form = *forms[window];
        // Hidden controls count too: the program reveals them.
        for (QWidget *w : form.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            w->setVisible(true);
        form.showForm();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.devicePixelRatio(), scale);

        // The window in device pixels: its designed size times the scale.
        const QImage image = form.grab().toImage();
        QCOMPARE(image.size(), form.size() * scale);

        for (QWidget *w : form.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly)) {
            const QString name = w->objectName();
            QVERIFY2(form.rect().contains(w->geometry()), qPrintable(name + " lies outside its window"));
            QFontMetrics metrics(w->font(), w);
            if (auto *button = qobject_cast<QPushButton *>(w)) {
                QStyleOptionButton option;
                option.initFrom(button);
                option.text = button->text();
                const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
                const QString caption = QString(button->text()).remove('&');
                QVERIFY2(inkFits(metrics, caption, room, Qt::AlignHCenter),
                         qPrintable(QStringLiteral("%1: \"%2\" needs %3 of %4 px")
                                        .arg(name, caption)
                                        .arg(metrics.horizontalAdvance(caption))
                                        .arg(room.width())));
            } else if (auto *label = qobject_cast<QLabel *>(w)) {
                if (label->text().isEmpty() || label->wordWrap())
                    continue;
                QVERIFY2(inkFits(metrics, label->text(), label->contentsRect(), label->alignment()),
                         qPrintable(name + ": \"" + label->text() + "\" is cut"));
            }
        }
    }

    // The bar is laid out only once the backdrop is on screen, and then across its top.
    void menuBarLiesAcrossTheBackdrop()
    {
        TestApp app;
        FrmBackground &backdrop = app.forms->window<FrmBackground>();
        auto *bar = backdrop.findChild<QMenuBar *>();
        QVERIFY(bar);
        backdrop.showForm();
        QVERIFY(QTest::qWaitForWindowExposed(&backdrop));
        QTRY_VERIFY(bar->isVisible());
        QCOMPARE(bar->geometry(), QRect(0, 0, backdrop.width(), bar->sizeHint().height()));
        QVERIFY(bar->height() > 0);
        backdrop.resize(backdrop.width() / 2, backdrop.height());
        QCOMPARE(bar->width(), backdrop.width());
    }
};

QTEST_MAIN(TestHighDpi)
#include "test_highdpi.moc"
