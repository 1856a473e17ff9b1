#include "app/frmbackground.h"

#include "store/duerule.h"
#include "store/rules.h"
#include "store/store.h"
#include "ui/messages.h"
#include "ui/session.h"

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QLabel>
#include <QMenuBar>
#include <QTimer>

#include <algorithm>
#include <limits>

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::app {

const FormDesign &FrmBackground::layout()
{
    static const FormDesign design{"frmBackground", "", 4680, 3090, Placement::Maximised, qRgb(255, 255, 192), {}};
    return design;
}

FrmBackground::FrmBackground(Session &session, Navigator &navigator) : Form(layout(), kId, session, navigator)
{
    // Behind the other windows wherever the window manager honours it.
    setWindowFlag(Qt::WindowStaysOnBottomHint);
    // The platform fills an empty title with the program's name; a blank keeps the
    // title bar empty as designed.
    setWindowTitle(QStringLiteral(" "));

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("lblFaellig"));
    m_status->setAccessibleName(QStringLiteral("Heute fällig"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setContentsMargins(6, 2, 6, 2);
    m_status->hide();
    m_recount = new QTimer(this);
    m_recount->setSingleShot(true);
    m_recount->setInterval(0);
    connect(m_recount, &QTimer::timeout, this, &FrmBackground::recount);
    m_dayChange = new QTimer(this);
    m_dayChange->setObjectName(QStringLiteral("tmrTageswechsel"));
    m_dayChange->setSingleShot(true);
    m_dayChange->setTimerType(Qt::VeryCoarseTimer);
    connect(m_dayChange, &QTimer::timeout, this, [this] {
        recount();
        armDayChange();
    });
    // Another running copy's changes reach the windows as they read the file; the
    // line is told of them by the file's writes.
    m_watch = new QFileSystemWatcher(this);
    connect(m_watch, &QFileSystemWatcher::fileChanged, this, &FrmBackground::fileWritten);
    connect(&session, &Session::changed, this, &FrmBackground::follow);
    connect(&session, &Session::storeOpened, this, &FrmBackground::recountLater);
}

void FrmBackground::recountLater()
{
    if (m_onScreen)
        m_recount->start();
}

void FrmBackground::recount()
{
    m_recount->stop();
    m_counted = false;
    m_due.clear();
    Store *store = session().store();
    if (!store) {
        // No file yet: nothing can be due. One that cannot serve is told by the windows.
        if (sniffFormat(session().dataFile()) == FileFormat::Missing)
            showText(text::dueToday(0, 0));
        else
            showText(QString());
        return;
    }
    if (!m_watch->files().contains(session().dataFile()))
        m_watch->addPath(session().dataFile());
    try {
        m_dataVersion = store->dataVersion();
        m_countedDay = store->learningToday();
        for (const SubjectDue &due : store->dueBySubject())
            if (due.figures.dueNow > 0)
                m_due[due.subjectId] = due.figures.dueNow;
    } catch (const StoreError &) {
        // The windows the user works in tell about a file that cannot serve.
        m_due.clear();
        showText(QString());
        return;
    }
    m_counted = true;
    showCounts();
}

void FrmBackground::follow(const Change &change)
{
    if (!m_onScreen)
        return;
    constexpr std::size_t kMostCardsFollowed = 64;
    Store *store = session().store();
    // Anything may have changed, or what makes cards due did: counted afresh.
    if (!store || !m_counted || m_recount->isActive() || change.isEmpty()
        || !change.holdsOnly<CardRow, LogRow, MediaLinkRow, MediaRow>() || change.cards.size() > kMostCardsFollowed) {
        recountLater();
        return;
    }
    try {
        const qint64 today = store->learningToday();
        if (today != m_countedDay) {
            recountLater();
            return;
        }
        // As Store::isDue judges a place, from the rows the change holds: each of the
        // card's places its subject practises.
        const auto due = [store, today](const CardRow &row) {
            const DirectionSetting ways = store->direction(row.subjectId);
            int places = 0;
            if (Store::practises(ways, Direction::Forward)
                && isDue(Store::learningDay(row.enteredAt), store->interval(row.subjectId, row.compartment), today))
                ++places;
            if (row.reverse && Store::practises(ways, Direction::Reverse)
                && isDue(Store::learningDay(row.reverse->enteredAt),
                         store->interval(row.subjectId, row.reverse->compartment), today))
                ++places;
            return places;
        };
        for (const RowChange<CardRow> &row : change.cards) {
            if (const int places = row.before ? due(*row.before) : 0;
                places > 0 && (m_due[row.before->subjectId] -= places) <= 0)
                m_due.erase(row.before->subjectId);
            if (const int places = row.after ? due(*row.after) : 0; places > 0)
                m_due[row.after->subjectId] += places;
        }
    } catch (const StoreError &) {
        recountLater();
        return;
    }
    showCounts();
}

void FrmBackground::showCounts()
{
    qint64 cards = 0;
    for (const auto &[subject, count] : m_due)
        cards += count;
    showText(text::dueToday(cards, qint64(m_due.size())));
}

void FrmBackground::showText(const QString &text)
{
    m_dueText = text;
    showLine();
}

void FrmBackground::setSyncStatus(const QString &text)
{
    m_syncText = text;
    showLine();
}

void FrmBackground::showLine()
{
    QString text = m_dueText;
    if (!m_syncText.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(" – ")) + m_syncText;
    m_status->setText(text);
    // A screen reader reads the name, so it carries the counts and the sync.
    m_status->setAccessibleName(text.isEmpty() ? QStringLiteral("Heute fällig") : text);
}

void FrmBackground::fileWritten()
{
    Store *store = session().store();
    // A file replaced by a rename is watched no more; the one now under the name is.
    if (!m_watch->files().contains(session().dataFile()))
        m_watch->addPath(session().dataFile());
    if (!m_onScreen || !store || m_recount->isActive())
        return;
    try {
        if (store->dataVersion() == m_dataVersion)
            return; // this run's own write, followed already
    } catch (const StoreError &) {
        // Counted afresh below, which tells nothing either.
    }
    recountLater();
}

void FrmBackground::armDayChange()
{
    const QDateTime now = QDateTime::currentDateTime();
    QDateTime next(now.date(), rules::learningDayStartTime());
    if (next <= now)
        next = QDateTime(now.date().addDays(1), rules::learningDayStartTime());
    // A second late, so that the count surely falls into the new day.
    m_dayChange->start(int(std::min<qint64>(now.msecsTo(next) + 1000, std::numeric_limits<int>::max())));
}

void FrmBackground::setMenuBar(QMenuBar *bar)
{
    m_bar = bar;
    // Laying out the bar loads the fonts. That waits until the window is on screen,
    // as a plain window's first paint waits for them; the bar shows before that paint.
    m_bar->hide();
}

void FrmBackground::showEvent(QShowEvent *event)
{
    Form::showEvent(event);
    if (m_bar && !m_bar->isVisible())
        QMetaObject::invokeMethod(this, "placeMenuBar", Qt::QueuedConnection);
    if (!m_onScreen)
        QMetaObject::invokeMethod(this, "placeStatusLine", Qt::QueuedConnection);
}

void FrmBackground::resizeEvent(QResizeEvent *event)
{
    Form::resizeEvent(event);
    if (m_bar && m_bar->isVisible())
        placeMenuBar();
    if (m_onScreen)
        placeStatusLine();
}

QRect FrmBackground::freeArea() const
{
    const int top = m_bar ? m_bar->sizeHint().height() : 0;
    const int bottom = m_status->isVisible() ? m_status->y() : height();
    return QRect(mapToGlobal(QPoint(0, top)), mapToGlobal(QPoint(width(), bottom)) - QPoint(1, 1));
}

void FrmBackground::placeMenuBar()
{
    // Along the top edge, across the whole width.
    m_bar->setGeometry(0, 0, width(), m_bar->sizeHint().height());
    m_bar->show();
}

} // namespace tarlivo::app

namespace tarlivo::app {

void FrmBackground::placeStatusLine()
{
    // Along the bottom edge, across the whole width.
    const int height = m_status->sizeHint().height();
    m_status->setGeometry(0, this->height() - height, width(), height);
    if (m_onScreen)
        return;
    m_onScreen = true;
    m_status->show();
    // The first window is on screen: the file may be opened now, to tell what is due
    // before the user goes anywhere.
    session().openQuietly();
    recount();
    armDayChange();
    emit onScreen();
}

} // namespace tarlivo::app
