#include "statistics/statisticswindow.h"

#include "statistics/barchart.h"
#include "store/files.h"
#include "ui/dialogs.h"
#include "ui/messages.h"
#include "ui/session.h"
#include "ui/subjectchooser.h"
#include "ui/toolwidgets.h"

#include <QAction>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>
#include <cerrno>

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {
namespace {

ChartView *chartView(const char *name, const QString &accessible, QWidget *parent)
{
    auto *chart = new ChartView(parent);
    chart->setObjectName(QLatin1String(name));
    chart->setAccessibleName(accessible);
    return chart;
}

} // namespace

StatisticsWindow::StatisticsWindow(Session &session, QWidget *parent)
    : QWidget(parent), m_session(session), m_dialogs(session.dialogs())
{
    setWindowTitle(QStringLiteral("Statistik"));
    setObjectName(QStringLiteral("StatisticsWindow"));

    cboGebiet = new QComboBox(this);
    cboGebiet->setObjectName(QStringLiteral("cboGebiet"));
    cboGebiet->setAccessibleName(QStringLiteral("Gebiet"));
    auto *subject = new QLabel(QStringLiteral("&Gebiet:"), this);
    subject->setTextFormat(Qt::PlainText);
    subject->setBuddy(cboGebiet);
    lblKarten = figureLabel("lblKarten", QStringLiteral("Anzahl der Karten"), this);
    lblHeute = figureLabel("lblHeute", QStringLiteral("Urteile heute"), this);
    lblFolge = figureLabel("lblFolge", QStringLiteral("Tage in Folge geübt"), this);
    chartFaecher = chartView("chartFaecher", text::compartmentChartTitle(), this);
    chartTage = chartView("chartTage", text::verdictChartTitle(kDays), this);
    chartPrognose = chartView("chartPrognose", text::forecastChartTitle(kDays), this);
    cmdSpeichern =
        toolButton(QStringLiteral("Als &Bild speichern…"), "cmdSpeichern", QStringLiteral("Als Bild speichern"), this);
    cmdSchliessen = toolButton(QStringLiteral("S&chließen"), "cmdSchliessen", QStringLiteral("Schließen"), this);

    auto *top = new QHBoxLayout;
    top->addWidget(subject);
    top->addWidget(cboGebiet, 1);
    auto *figures = new QHBoxLayout;
    figures->addWidget(lblKarten);
    figures->addSpacing(24);
    figures->addWidget(lblHeute);
    figures->addSpacing(24);
    figures->addWidget(lblFolge);
    figures->addStretch(1);
    auto *actions = new QHBoxLayout;
    actions->addWidget(cmdSpeichern);
    actions->addStretch(1);
    actions->addWidget(cmdSchliessen);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(figures);
    layout->addWidget(chartFaecher, 1);
    layout->addWidget(chartTage, 1);
    layout->addWidget(chartPrognose, 1);
    layout->addLayout(actions);
    setTabOrder(cboGebiet, cmdSpeichern);
    setTabOrder(cmdSpeichern, cmdSchliessen);

    auto *close = new QAction(this);
    close->setShortcut(QKeySequence::Cancel);
    addAction(close);
    connect(close, &QAction::triggered, this, &QWidget::close);
    connect(cmdSchliessen, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdSpeichern, &QPushButton::clicked, this, &StatisticsWindow::saveImage);
    connect(cboGebiet, qOverload<int>(&QComboBox::currentIndexChanged), this, [this] { load(); });

    resize(760, 860);
    // The figures are read when the window is shown, or at once for a subject asked
    // for before: opened on a subject, the figures of all are never read in vain.
    fillSubjects(std::nullopt);

    // Another window's change, an undo or the file opened afresh: read again now
    // while on screen, else when next shown.
    const auto follow = [this] {
        if (isVisible())
            refresh();
        else
            m_subjectsStale = m_stale = true;
    };
    connect(&session, &Session::changed, this, follow);
    connect(&session, &Session::storeOpened, this, follow);
}

StatisticsWindow::~StatisticsWindow() = default;

std::optional<qint32> StatisticsWindow::currentSubject() const
{
    const QVariant key = cboGebiet->currentData();
    return key.isValid() ? std::optional<qint32>(key.toInt()) : std::nullopt;
}

void StatisticsWindow::refresh()
{
    fillSubjects(currentSubject());
    load();
}

void StatisticsWindow::showSubject(std::optional<qint32> subjectId)
{
    // A subject added since the list was filled is found after reading it again.
    if (!selectSubject(subjectId))
        fillSubjects(subjectId);
    load();
}

bool StatisticsWindow::selectSubject(std::optional<qint32> subjectId)
{
    const int index = subjectId ? cboGebiet->findData(*subjectId) : 0;
    if (index < 0)
        return false;
    const QSignalBlocker blocker(cboGebiet);
    cboGebiet->setCurrentIndex(index);
    return true;
}

void StatisticsWindow::fillSubjects(std::optional<qint32> keep)
{
    try {
        fillSubjectChooser(*cboGebiet, store(), keep);
    } catch (const StoreError &e) {
        m_dialogs.message(this, text::storeError(e));
    }
}

void StatisticsWindow::showEvent(QShowEvent *event)
{
    if (m_subjectsStale) {
        m_subjectsStale = false;
        fillSubjects(currentSubject());
    }
    if (m_stale) {
        load();
        // The layout was made for the empty labels just before.
        layout()->activate();
    }
    QWidget::showEvent(event);
}

void StatisticsWindow::load()
{
    m_stale = false;
    std::vector<qint64> forecast;
    QDate today;
    try {
        m_statistics = store().statistics(currentSubject(), kDays);
        forecast = store().forecast(currentSubject(), kDays);
        today = QDate::fromJulianDay(store().learningToday());
    } catch (const StoreError &e) {
        m_statistics = Statistics{};
        lblKarten->setText(text::statisticsUnknown(QStringLiteral("Karten")));
        lblHeute->setText(text::statisticsUnknown(QStringLiteral("Heute")));
        lblFolge->setText(text::statisticsUnknown(QStringLiteral("Tage in Folge geübt")));
        BarChart unreadable;
        unreadable.emptyText = text::statisticsUnreadable();
        chartFaecher->setChart(unreadable);
        chartTage->setChart(unreadable);
        chartPrognose->setChart(unreadable);
        m_dialogs.message(this, text::storeError(e));
        return;
    }
    // The reverse places beside the cards, with their compartments, where there are any.
    QString cards = text::statisticsCards(m_statistics.cards);
    if (m_statistics.reversePlaces > 0)
        cards += QStringLiteral(", ")
                 + text::statisticsReverse(m_statistics.reversePlaces, m_statistics.reverseCompartments);
    lblKarten->setText(cards);
    lblHeute->setText(text::statisticsToday(m_statistics.today));
    lblFolge->setText(text::statisticsStreak(m_statistics.streak));
    chartFaecher->setChart(compartmentChart(m_statistics));
    chartTage->setChart(verdictChart(m_statistics));
    chartPrognose->setChart(forecastChart(forecast, today));
}

void StatisticsWindow::saveImage()
{
    if (m_stale)
        load();
    QString path = m_dialogs.saveFileName(this, text::saveImageTitle(), text::saveImageFilter());
    if (path.isEmpty())
        return;
    QString type = QFileInfo(path).suffix().toLower();
    if (type.isEmpty()) {
        path += QStringLiteral(".png");
        type = QStringLiteral("png");
    }
    if (type != QLatin1String("png") && type != QLatin1String("svg")) {
        m_dialogs.message(this, text::imageTypeUnknown(path));
        return;
    }
    const QString figures =
        QStringList{lblKarten->text(), lblHeute->text(), lblFolge->text()}.join(QStringLiteral("   "));
    const ChartScene scene = layoutExport(text::statisticsHeading(cboGebiet->currentText()), figures,
                                          {chartFaecher->chart(), chartTage->chart(), chartPrognose->chart()}, font());
    // Written beside and moved into place: a failed save leaves no half picture.
    QSaveFile file(path);
    QString reason;
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        reason = files::fileReason(file);
    } else {
        const bool svg = type == QLatin1String("svg");
        const QByteArray text = svg ? svgOfScene(scene, font()) : QByteArray();
        const bool written = svg ? file.write(text) == text.size() : renderScene(scene, font()).save(&file, "PNG");
        if (!written) {
            reason = file.error() != QFileDevice::NoError ? files::fileReason(file) : text::imageNotWritten();
            file.cancelWriting();
        } else if (!file.commit()) {
            reason = files::fileReason(file);
        }
    }
    if (!reason.isNull())
        m_dialogs.message(this, text::imageNotSaved(path, reason));
}

Store &StatisticsWindow::store() const { return m_session.db(); }

} // namespace tarlivo::windows
