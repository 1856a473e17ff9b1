#pragma once

#include "store/store.h"

#include <QColor>
#include <QDate>
#include <QFont>
#include <QLineF>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

class QPainter;

namespace tarlivo::windows {

// What a bar chart shows, independent of how it is drawn: bars of one value or of
// several stacked values (one per series, bottom first).
struct BarChart {
    struct Bar {
        QString label;
        std::vector<qint64> values; // one per series
        qint64 total() const;
    };
    QString title;
    QStringList series; // names for the legend; one series needs none
    std::vector<QColor> colors;
    std::vector<Bar> bars;
    QString emptyText; // shown instead of the chart when every bar is zero
    bool valuesOnBars = false;
    bool rotateLabels = false; // labels that do not fit turn upright instead of being left out

    bool isEmpty() const;
    qint64 maxTotal() const;
    // In words, for screen readers: "1: 3, 2: 1".
    QString summary() const;
};

// More compartments than this are shown as the first ones and one bar for the rest.
constexpr int kMaxCompartmentBars = 20;

// Cards per compartment: every compartment from 1 to the highest when that is at most
// kMaxCompartmentBars (empty ones as gaps), else the compartments holding cards, the
// ones beyond the first kMaxCompartmentBars - 1 in one bar "ab n".
BarChart compartmentChart(const store::Statistics &s);
// Richtig, Fast Richtig, Falsch per day, stacked, oldest day first.
BarChart verdictChart(const store::Statistics &s);
// Cards falling due on each learning day from today on; today's bar holds every card
// due now.
BarChart forecastChart(const std::vector<qint64> &perDay, QDate today);

// A chart laid out for one size and font: the shapes both the screen and the SVG
// file are drawn from, so the two always agree.
struct ChartScene {
    struct Rect {
        QRectF rect;
        QColor fill;
        QString role; // "bar", "legend" or "background"
    };
    struct Line {
        QLineF line;
        QColor color;
    };
    enum class Anchor { Start, Middle, End };
    struct Text {
        QPointF at; // the baseline point the anchor refers to
        QString text;
        Anchor anchor = Anchor::Start;
        bool upright = false; // turned a quarter left, reading upwards
        bool bold = false;
        QColor color;
    };
    QSizeF size;
    std::vector<Rect> rects;
    std::vector<Line> lines;
    std::vector<Text> texts;

    // Adds other's shapes moved down by dy.
    void append(const ChartScene &other, qreal dy);
};

ChartScene layoutChart(const BarChart &chart, const QSizeF &size, const QFont &font);
// The saved picture: a heading, a line of figures and the charts one below the other.
ChartScene layoutExport(const QString &heading, const QString &figures, const std::vector<BarChart> &charts,
                        const QFont &font);

void paintScene(QPainter &painter, const ChartScene &scene, const QFont &font);
QImage renderScene(const ChartScene &scene, const QFont &font);
QByteArray svgOfScene(const ChartScene &scene, const QFont &font);

// Draws a BarChart to its size; the text instead when the chart is empty.
class ChartView : public QWidget {
    Q_OBJECT

public:
    explicit ChartView(QWidget *parent = nullptr);
    void setChart(BarChart chart);
    const BarChart &chart() const { return m_chart; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    BarChart m_chart;
};

} // namespace tarlivo::windows
