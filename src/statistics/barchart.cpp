#include "statistics/barchart.h"

#include "ui/messages.h"

#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QLocale>
#include <QPainter>

#include <algorithm>
#include <cmath>

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {
namespace {

const QColor kInk(0x20, 0x20, 0x20);
const QColor kAxisText(0x50, 0x50, 0x50);
const QColor kGrid(0xdd, 0xdd, 0xdd);
const QColor kAxis(0x80, 0x80, 0x80);
const QColor kCompartmentBar(0x3f, 0x6f, 0xb0);
const QColor kForecast(0x6a, 0x4c, 0x93);
// Told apart by lightness as well as hue, so they stay distinct without colour vision.
const QColor kRight(0x1e, 0x8a, 0x4a);
const QColor kAlmostRight(0xf2, 0xc1, 0x4e);
const QColor kWrong(0xb8, 0x2e, 0x2e);
constexpr qreal kMargin = 8;

QString number(qint64 n) { return QLocale(QLocale::German).toString(n); }

// A round step (1, 2 or 5 times a power of ten) giving at most five intervals up to max.
qint64 tickStep(qint64 max)
{
    qint64 step = 1;
    while (true) {
        for (const qint64 m : {1, 2, 5}) {
            if (max <= m * step * 5)
                return m * step;
        }
        step *= 10;
    }
}

QFont boldOf(const QFont &font)
{
    QFont bold = font;
    bold.setBold(true);
    return bold;
}

// Text for XML: markup characters escaped, characters XML cannot hold at all left out.
QString xmlText(const QString &text)
{
    QString out;
    out.reserve(text.size());
    const QVector<uint> codes = text.toUcs4();
    for (const uint c : codes) {
        switch (c) {
        case '<':
            out += QLatin1String("&lt;");
            break;
        case '>':
            out += QLatin1String("&gt;");
            break;
        case '&':
            out += QLatin1String("&amp;");
            break;
        case '"':
            out += QLatin1String("&quot;");
            break;
        case '\t':
        case '\n':
        case '\r':
            out += QLatin1Char(' ');
            break;
        default:
            const bool allowed =
                (c >= 0x20 && c <= 0xd7ff) || (c >= 0xe000 && c <= 0xfffd) || (c >= 0x10000 && c <= 0x10ffff);
            if (allowed) {
                const char32_t code = c;
                out += QString::fromUcs4(&code, 1);
            }
        }
    }
    return out;
}

QString num(qreal v) { return QString::number(v, 'f', 1); }

} // namespace

qint64 BarChart::Bar::total() const
{
    qint64 sum = 0;
    for (const qint64 v : values)
        sum += v;
    return sum;
}

qint64 BarChart::maxTotal() const
{
    qint64 max = 0;
    for (const Bar &b : bars)
        max = std::max(max, b.total());
    return max;
}

bool BarChart::isEmpty() const { return maxTotal() <= 0; }

QString BarChart::summary() const
{
    if (isEmpty())
        return emptyText;
    QStringList parts;
    for (const Bar &b : bars) {
        if (b.total() == 0)
            continue;
        if (series.size() < 2) {
            parts << QStringLiteral("%1: %2").arg(b.label, number(b.total()));
            continue;
        }
        QStringList values;
        for (size_t i = 0; i < b.values.size() && int(i) < series.size(); ++i)
            values << QStringLiteral("%1 %2").arg(series[int(i)], number(b.values[i]));
        parts << QStringLiteral("%1: %2").arg(b.label, values.join(QStringLiteral(", ")));
    }
    return title + QStringLiteral(". ") + parts.join(QStringLiteral("; "));
}

BarChart compartmentChart(const Statistics &s)
{
    BarChart chart;
    chart.title = text::compartmentChartTitle();
    chart.colors = {kCompartmentBar};
    chart.emptyText = text::noCardsToChart();
    chart.valuesOnBars = true;
    chart.rotateLabels = true;
    if (s.compartments.empty())
        return chart;
    const bool dense =
        s.compartments.front().compartment >= 1 && s.compartments.back().compartment <= kMaxCompartmentBars;
    if (dense) {
        // The whole box from compartment 1: an empty compartment shows as a gap.
        for (qint32 compartment = 1; compartment <= s.compartments.back().compartment; ++compartment)
            chart.bars.push_back({QString::number(compartment), {0}});
        for (const CompartmentCount &c : s.compartments)
            chart.bars[size_t(c.compartment - 1)].values[0] = c.count;
        return chart;
    }
    for (size_t i = 0; i < s.compartments.size(); ++i) {
        const CompartmentCount &c = s.compartments[i];
        if (int(i) < kMaxCompartmentBars - 1)
            chart.bars.push_back({QString::number(c.compartment), {c.count}});
        else if (int(i) == kMaxCompartmentBars - 1)
            chart.bars.push_back({text::compartmentsFrom(c.compartment), {c.count}});
        else
            chart.bars.back().values[0] += c.count;
    }
    return chart;
}

BarChart verdictChart(const Statistics &s)
{
    BarChart chart;
    const int days = int(s.days.size());
    chart.title = text::verdictChartTitle(days);
    chart.series = {text::verdictRight(), text::verdictAlmostRight(), text::verdictWrong()};
    chart.colors = {kRight, kAlmostRight, kWrong};
    chart.emptyText = text::noVerdictsToChart(days);
    for (const DayVerdicts &d : s.days)
        chart.bars.push_back({d.day.toString(QStringLiteral("d.M.")), {d.right, d.almostRight, d.wrong}});
    return chart;
}

BarChart forecastChart(const std::vector<qint64> &perDay, QDate today)
{
    BarChart chart;
    const int days = int(perDay.size());
    chart.title = text::forecastChartTitle(days);
    chart.colors = {kForecast};
    chart.emptyText = text::nothingFallsDue(days);
    for (int i = 0; i < days; ++i)
        chart.bars.push_back({today.addDays(i).toString(QStringLiteral("d.M.")), {perDay[std::size_t(i)]}});
    return chart;
}

void ChartScene::append(const ChartScene &other, qreal dy)
{
    for (Rect r : other.rects) {
        r.rect.translate(0, dy);
        rects.push_back(r);
    }
    for (Line l : other.lines) {
        l.line.translate(0, dy);
        lines.push_back(l);
    }
    for (Text t : other.texts) {
        t.at.ry() += dy;
        texts.push_back(t);
    }
}

ChartScene layoutChart(const BarChart &chart, const QSizeF &size, const QFont &font)
{
    ChartScene scene;
    scene.size = size;
    scene.rects.push_back({QRectF(QPointF(0, 0), size), Qt::white, QStringLiteral("background")});
    const QFontMetricsF fm(font);
    const QFontMetricsF fmBold(boldOf(font));
    const qreal width = size.width();
    const qreal height = size.height();
    qreal y = kMargin;

    scene.texts.push_back({{kMargin, y + fmBold.ascent()}, chart.title, ChartScene::Anchor::Start, false, true, kInk});
    y += fmBold.height() + 4;
    if (chart.series.size() > 1) {
        const qreal swatch = std::round(fm.ascent() * 0.8);
        qreal x = kMargin;
        for (int i = 0; i < chart.series.size(); ++i) {
            const QColor color = size_t(i) < chart.colors.size() ? chart.colors[size_t(i)] : kInk;
            scene.rects.push_back(
                {QRectF(x, y + (fm.height() - swatch) / 2, swatch, swatch), color, QStringLiteral("legend")});
            scene.texts.push_back(
                {{x + swatch + 4, y + fm.ascent()}, chart.series[i], ChartScene::Anchor::Start, false, false, kInk});
            x += swatch + 4 + fm.horizontalAdvance(chart.series[i]) + 16;
        }
        y += fm.height() + 4;
    }
    if (chart.isEmpty()) {
        scene.texts.push_back({{width / 2, (y + height) / 2 + (fm.ascent() - fm.descent()) / 2},
                               chart.emptyText,
                               ChartScene::Anchor::Middle,
                               false,
                               false,
                               kAxisText});
        return scene;
    }

    const qint64 step = tickStep(chart.maxTotal());
    const qint64 top = (chart.maxTotal() + step - 1) / step * step;
    qreal tickWidth = 0;
    for (qint64 v = 0; v <= top; v += step)
        tickWidth = std::max(tickWidth, fm.horizontalAdvance(number(v)));
    const qreal plotLeft = kMargin + tickWidth + 6;
    const qreal plotRight = width - kMargin;
    const qreal slot = std::max(plotRight - plotLeft, 1.0) / qreal(chart.bars.size());

    // Every label when they fit side by side; else upright where allowed; else every n-th,
    // counted back from the last (today) so that one is always named.
    qreal labelWidth = 0;
    for (const BarChart::Bar &b : chart.bars)
        labelWidth = std::max(labelWidth, fm.horizontalAdvance(b.label));
    const bool upright = labelWidth + 4 > slot && chart.rotateLabels && fm.height() <= slot;
    const int every = (labelWidth + 4 <= slot || upright) ? 1 : int(std::ceil((labelWidth + 8) / slot));
    const qreal labelArea = upright ? labelWidth + 4 : fm.height();
    const qreal plotBottom = std::max(height - kMargin - labelArea - 2, y + 20);
    const qreal plotTop = y + (chart.valuesOnBars ? fm.height() + 2 : fm.height() / 2);
    const qreal scale = std::max(plotBottom - plotTop, 1.0) / qreal(top);
    const qreal textMiddle = (fm.ascent() - fm.descent()) / 2;

    for (qint64 v = 0; v <= top; v += step) {
        const qreal at = std::round(plotBottom - qreal(v) * scale) + 0.5;
        scene.lines.push_back({QLineF(plotLeft, at, plotRight, at), v == 0 ? kAxis : kGrid});
        scene.texts.push_back(
            {{plotLeft - 4, at + textMiddle}, number(v), ChartScene::Anchor::End, false, false, kAxisText});
    }
    // Thin bars for many, but a few do not become blocks.
    const qreal barWidth = std::clamp(slot * 0.7, 1.0, std::max(1.0, 4 * fm.height()));
    const int last = int(chart.bars.size()) - 1;
    for (int i = 0; i <= last; ++i) {
        const BarChart::Bar &bar = chart.bars[size_t(i)];
        const qreal centre = plotLeft + slot * (i + 0.5);
        qreal base = plotBottom;
        for (size_t s = 0; s < bar.values.size(); ++s) {
            if (bar.values[s] <= 0)
                continue;
            // A bar of one card among a million is still seen.
            const qreal h = std::max(1.0, qreal(bar.values[s]) * scale);
            const QColor color = s < chart.colors.size() ? chart.colors[s] : kInk;
            scene.rects.push_back({QRectF(centre - barWidth / 2, base - h, barWidth, h), color, QStringLiteral("bar")});
            base -= h;
        }
        if (chart.valuesOnBars && bar.total() > 0) {
            const QString value = number(bar.total());
            if (fm.horizontalAdvance(value) <= slot)
                scene.texts.push_back(
                    {{centre, base - 3 - fm.descent()}, value, ChartScene::Anchor::Middle, false, false, kInk});
        }
        if (upright)
            scene.texts.push_back(
                {{centre + textMiddle, plotBottom + 4}, bar.label, ChartScene::Anchor::End, true, false, kAxisText});
        else if ((last - i) % every == 0)
            scene.texts.push_back({{centre, plotBottom + 2 + fm.ascent()},
                                   bar.label,
                                   ChartScene::Anchor::Middle,
                                   false,
                                   false,
                                   kAxisText});
    }
    return scene;
}

ChartScene layoutExport(const QString &heading, const QString &figures, const std::vector<BarChart> &charts,
                        const QFont &font)
{
    constexpr qreal kWidth = 800;
    constexpr qreal kChartHeight = 320;
    const QFontMetricsF fm(font);
    const QFontMetricsF fmBold(boldOf(font));
    const qreal header = kMargin + fmBold.height() + 4 + fm.height() + 4;
    ChartScene scene;
    scene.size = QSizeF(kWidth, header + qreal(charts.size()) * kChartHeight);
    scene.rects.push_back({QRectF(QPointF(0, 0), scene.size), Qt::white, QStringLiteral("background")});
    scene.texts.push_back(
        {{kMargin, kMargin + fmBold.ascent()}, heading, ChartScene::Anchor::Start, false, true, kInk});
    scene.texts.push_back({{kMargin, kMargin + fmBold.height() + 4 + fm.ascent()},
                           figures,
                           ChartScene::Anchor::Start,
                           false,
                           false,
                           kInk});
    for (std::size_t i = 0; i < charts.size(); ++i)
        scene.append(layoutChart(charts[i], QSizeF(kWidth, kChartHeight), font), header + qreal(i) * kChartHeight);
    return scene;
}

void paintScene(QPainter &painter, const ChartScene &scene, const QFont &font)
{
    const QFont bold = boldOf(font);
    for (const ChartScene::Rect &r : scene.rects)
        painter.fillRect(r.rect, r.fill);
    for (const ChartScene::Line &l : scene.lines) {
        painter.setPen(QPen(l.color, 1));
        painter.drawLine(l.line);
    }
    for (const ChartScene::Text &t : scene.texts) {
        const QFont &f = t.bold ? bold : font;
        painter.setFont(f);
        painter.setPen(t.color);
        const qreal w = QFontMetricsF(f).horizontalAdvance(t.text);
        const qreal dx =
            t.anchor == ChartScene::Anchor::Start ? 0 : (t.anchor == ChartScene::Anchor::Middle ? -w / 2 : -w);
        painter.save();
        painter.translate(t.at);
        if (t.upright)
            painter.rotate(-90);
        painter.drawText(QPointF(dx, 0), t.text);
        painter.restore();
    }
}

QImage renderScene(const ChartScene &scene, const QFont &font)
{
    QImage image(scene.size.toSize(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::TextAntialiasing);
    paintScene(painter, scene, font);
    return image;
}

QByteArray svgOfScene(const ChartScene &scene, const QFont &font)
{
    QString out;
    const QString w = num(scene.size.width());
    const QString h = num(scene.size.height());
    out += QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    out += QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" viewBox=\"0 0 %1 %2\" "
                          "font-family=\"%3, sans-serif\" font-size=\"%4\">\n")
               .arg(w, h, xmlText(font.family()))
               .arg(QFontInfo(font).pixelSize());
    for (const ChartScene::Rect &r : scene.rects)
        out += QStringLiteral("<rect class=\"%1\" x=\"%2\" y=\"%3\" width=\"%4\" height=\"%5\" fill=\"%6\"/>\n")
                   .arg(r.role, num(r.rect.x()), num(r.rect.y()), num(r.rect.width()), num(r.rect.height()),
                        r.fill.name());
    for (const ChartScene::Line &l : scene.lines)
        out += QStringLiteral("<line x1=\"%1\" y1=\"%2\" x2=\"%3\" y2=\"%4\" stroke=\"%5\" stroke-width=\"1\"/>\n")
                   .arg(num(l.line.x1()), num(l.line.y1()), num(l.line.x2()), num(l.line.y2()), l.color.name());
    for (const ChartScene::Text &t : scene.texts) {
        const QString x = num(t.at.x());
        const QString y = num(t.at.y());
        const char *anchor = t.anchor == ChartScene::Anchor::Start
                                 ? "start"
                                 : (t.anchor == ChartScene::Anchor::Middle ? "middle" : "end");
        out += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"%3\" fill=\"%4\"")
                   .arg(x, y, QLatin1String(anchor), t.color.name());
        if (t.bold)
            out += QStringLiteral(" font-weight=\"bold\"");
        if (t.upright)
            out += QStringLiteral(" transform=\"rotate(-90 %1 %2)\"").arg(x, y);
        out += QStringLiteral(">%1</text>\n").arg(xmlText(t.text));
    }
    out += QStringLiteral("</svg>\n");
    return out.toUtf8();
}

ChartView::ChartView(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ChartView::setChart(BarChart chart)
{
    m_chart = std::move(chart);
    setAccessibleDescription(m_chart.summary());
    update();
}

QSize ChartView::sizeHint() const { return QSize(640, 260); }
QSize ChartView::minimumSizeHint() const { return QSize(280, 160); }

void ChartView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintScene(painter, layoutChart(m_chart, QSizeF(size()), font()), font());
}

} // namespace tarlivo::windows
