#include "print/document.h"

#include "ui/picture.h"

#include <QFont>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <map>

namespace tarlivo::print {
namespace {

// Font sizes in dots (1/1200 inch): a point is 1200/72 of them.
constexpr int points(qreal pt) { return int(pt * kDotsPerInch / 72); }

QFont printFont(int pixelSize, bool bold = false)
{
    // DejaVu Sans holds Latin, Greek, Cyrillic, Hebrew and Arabic alike; fontconfig
    // stands in for it where it is missing.
    QFont font(QStringList{QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    // Hinting would tie the glyphs' widths to a resolution; the layout must hold on any.
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

struct Laid {
    std::shared_ptr<QTextLayout> layout;
    qreal height = 0;
};

// Lays text out in width: line breaks kept, long words broken rather than cut, a
// right-to-left text from the right. align: Qt::AlignLeading or Qt::AlignHCenter.
Laid layOutText(const QString &text, const QFont &font, qreal width, Qt::Alignment align = Qt::AlignLeading)
{
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\n'), QChar::LineSeparator);
    t.replace(QLatin1Char('\r'), QChar::LineSeparator);
    auto layout = std::make_shared<QTextLayout>(t, font);
    const bool rtl = t.isRightToLeft();
    // A bare QTextLayout takes the alignment as it stands: the leading side of a
    // right-to-left text is the right.
    QTextOption option(rtl && align == Qt::AlignLeading ? Qt::AlignRight | Qt::AlignAbsolute : align);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(rtl ? Qt::RightToLeft : Qt::LeftToRight);
    layout->setTextOption(option);
    layout->setCacheEnabled(true);
    layout->beginLayout();
    qreal y = 0;
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout->endLayout();
    return {layout, y};
}

TextBlock wholeBlock(const Laid &laid, QPointF at) { return {laid.layout, 0, laid.layout->lineCount(), at}; }

// --- The list --------------------------------------------------------------------

constexpr qreal kMargin = dots(15);
constexpr qreal kFootRoom = dots(12);         // below the table, for "Seite n von m"
constexpr qreal kPad = dots(1.2);             // inside each cell
constexpr qreal kCompartmentWidth = dots(13); // the Fach column
constexpr qreal kListPicture = dots(16);      // a picture's box beside its text

class ListBuilder {
public:
    explicit ListBuilder(Paper paper)
        : m_body(printFont(points(10))), m_bold(printFont(points(10), true)), m_title(printFont(points(14), true))
    {
        m_doc.paper = paper;
        m_doc.size = pageSize(paper);
        m_left = kMargin;
        m_width = m_doc.size.width() - 2 * kMargin;
        m_bottom = m_doc.size.height() - kMargin - kFootRoom;
        m_textWidth = (m_width - kCompartmentWidth) / 2;
    }

    void subject(const PrintSubject &subject)
    {
        const Laid title = layOutText(subject.name, m_title, m_width);
        const qreal needed = title.height + dots(2) + headerHeight() + m_body.pixelSize() * 2;
        if (m_doc.pages.empty() || (m_y + needed > m_bottom && m_rowsOnPage > 0))
            newPage(false);
        else if (m_rowsOnPage > 0)
            m_y += dots(6);
        page().texts.push_back(wholeBlock(title, QPointF(m_left, m_y)));
        m_y += title.height + dots(2);
        header();
        for (const PrintCard &card : subject.cards)
            row(card);
    }

    Document finish()
    {
        const int count = int(m_doc.pages.size());
        for (int i = 0; i < count; ++i) {
            const Laid foot =
                layOutText(QStringLiteral("Seite %1 von %2").arg(i + 1).arg(count), m_body, m_width, Qt::AlignHCenter);
            m_doc.pages[size_t(i)].texts.push_back(
                wholeBlock(foot, QPointF(m_left, m_doc.size.height() - kMargin - foot.height)));
        }
        return std::move(m_doc);
    }

private:
    struct Cell {
        Laid text;
        qreal x = 0;
        QImage picture;
        QSizeF pictureSize;
        qreal pictureX = 0;
    };

    Page &page() { return m_doc.pages.back(); }

    void newPage(bool withHeader)
    {
        m_doc.pages.emplace_back();
        m_y = kMargin;
        m_rowsOnPage = 0;
        if (withHeader)
            header();
    }

    qreal headerHeight() const { return m_body.pixelSize() * 1.25 + 2 * kPad; }

    void header()
    {
        const qreal x[] = {m_left, m_left + m_textWidth, m_left + 2 * m_textWidth};
        const QString names[] = {QStringLiteral("Frage"), QStringLiteral("Antwort"), QStringLiteral("Fach")};
        // Laid out once and placed on every page: a layout is never changed once made.
        if (!m_header[0].layout)
            for (int i = 0; i < 3; ++i)
                m_header[i] = layOutText(names[i], m_bold, (i == 2 ? kCompartmentWidth : m_textWidth) - 2 * kPad);
        qreal height = 0;
        for (int i = 0; i < 3; ++i) {
            const Laid &name = m_header[i];
            page().texts.push_back(wholeBlock(name, QPointF(x[i] + kPad, m_y + kPad)));
            height = std::max(height, name.height);
        }
        m_y += height + 2 * kPad;
        page().lines.emplace_back(m_left, m_y, m_left + m_width, m_y);
    }

    Cell cell(const QString &text, const QByteArray &picture, qreal x, qreal width)
    {
        Cell c;
        c.x = x + kPad;
        qreal textWidth = width - 2 * kPad;
        if (!picture.isEmpty()) {
            // Decoded at about 300 dpi for its printed size: sharp on paper, small in memory.
            const int box = int(kListPicture / kDotsPerInch * 300);
            c.picture = ui::decodePicture(picture, QSize(box, box));
            if (!c.picture.isNull()) {
                const QSize fitted = ui::fittedSize(c.picture.size(), QSize(box, box));
                const qreal scale = kListPicture / box;
                c.pictureSize = QSizeF(fitted.width() * scale, fitted.height() * scale);
                const qreal taken = c.pictureSize.width() + dots(2);
                textWidth -= taken;
                // On the text's leading side: the left, or the right of a right-to-left text.
                if (text.isRightToLeft()) {
                    c.pictureX = x + width - kPad - c.pictureSize.width();
                } else {
                    c.pictureX = c.x;
                    c.x += taken;
                }
            }
        }
        c.text = layOutText(text, m_body, std::max(textWidth, dots(10)));
        return c;
    }

    // The compartment numbers, each laid out once.
    Cell compartmentCell(qint32 compartment)
    {
        auto it = m_compartmentCells.find(compartment);
        if (it == m_compartmentCells.end())
            it = m_compartmentCells
                     .emplace(compartment,
                              cell(QString::number(compartment), {}, m_left + 2 * m_textWidth, kCompartmentWidth))
                     .first;
        return it->second;
    }

    void row(const PrintCard &card)
    {
        Cell cells[] = {cell(card.question, card.questionPicture, m_left, m_textWidth),
                        cell(card.answer, card.answerPicture, m_left + m_textWidth, m_textWidth),
                        compartmentCell(card.compartment)};
        qreal height = 0;
        for (const Cell &c : cells)
            height = std::max({height, c.text.height, c.pictureSize.height()});
        // A row that fits on a page of its own starts on the next one; a longer one
        // starts here, unless hardly a line of it would.
        const qreal freshRoom = m_bottom - kMargin - headerHeight();
        const bool fitsAPage = height + 2 * kPad <= freshRoom;
        if (m_y + height + 2 * kPad > m_bottom && m_rowsOnPage > 0
            && (fitsAPage || m_bottom - m_y < 3 * m_body.pixelSize() * 1.2 + 2 * kPad))
            newPage(true);
        // A row longer than a page goes on over the next ones, line by line.
        int next[3] = {0, 0, 0};
        bool first = true;
        for (;;) {
            const qreal room = m_bottom - m_y - 2 * kPad;
            qreal used = 0;
            bool done = true;
            for (int i = 0; i < 3; ++i) {
                Cell &c = cells[i];
                if (first && !c.picture.isNull()) {
                    page().pictures.push_back({QRectF(QPointF(c.pictureX, m_y + kPad), c.pictureSize), c.picture});
                    used = std::max(used, c.pictureSize.height());
                }
                const QTextLayout &layout = *c.text.layout;
                const int start = next[i];
                if (start >= layout.lineCount())
                    continue;
                const qreal top = layout.lineAt(start).y();
                int n = 0;
                while (start + n < layout.lineCount()) {
                    const QTextLine line = layout.lineAt(start + n);
                    if (line.y() + line.height() - top > room && n > 0)
                        break;
                    ++n;
                }
                if (n > 0) {
                    page().texts.push_back({c.text.layout, start, n, QPointF(c.x, m_y + kPad - top)});
                    const QTextLine last = layout.lineAt(start + n - 1);
                    used = std::max(used, last.y() + last.height() - top);
                }
                next[i] = start + n;
                if (next[i] < layout.lineCount())
                    done = false;
            }
            m_y += used + 2 * kPad;
            ++m_rowsOnPage;
            page().lines.emplace_back(m_left, m_y, m_left + m_width, m_y);
            if (done)
                return;
            newPage(true);
            first = false;
        }
    }

    QFont m_body;
    QFont m_bold;
    Laid m_header[3];
    std::map<qint32, Cell> m_compartmentCells;
    QFont m_title;
    Document m_doc;
    qreal m_left = 0;
    qreal m_width = 0;
    qreal m_textWidth = 0;
    qreal m_bottom = 0;
    qreal m_y = 0;
    int m_rowsOnPage = 0;
};

// --- The cards -------------------------------------------------------------------

constexpr qreal kCardPad = dots(5);
constexpr int kLargest = points(16);
constexpr int kSmallest = points(8); // still read without effort

// The text set as large as fits height (from kLargest down to kSmallest); a text
// too long even at kSmallest is cut after the last whole line that fits and ends
// with "…".
Laid fitText(const QString &text, qreal width, qreal height)
{
    for (int size = kLargest; size > kSmallest; size -= points(1)) {
        Laid laid = layOutText(text, printFont(size), width, Qt::AlignHCenter);
        if (laid.height <= height)
            return laid;
    }
    const QFont font = printFont(kSmallest);
    Laid laid = layOutText(text, font, width, Qt::AlignHCenter);
    if (laid.height <= height)
        return laid;
    // The longest beginning that fits with the ellipsis, found by halving.
    int fits = 0;
    int tooLong = text.size();
    Laid best = layOutText(QStringLiteral("…"), font, width, Qt::AlignHCenter);
    while (tooLong - fits > 1) {
        int mid = (fits + tooLong) / 2;
        if (mid > 0 && text.at(mid - 1).isHighSurrogate())
            --mid;
        // A surrogate pair left nothing between the bounds to try.
        if (mid <= fits)
            break;
        Laid tried = layOutText(text.left(mid).trimmed() + QStringLiteral("…"), font, width, Qt::AlignHCenter);
        if (tried.height <= height) {
            fits = mid;
            best = std::move(tried);
        } else {
            tooLong = mid;
        }
    }
    return best;
}

void fillCard(Page &page, QRectF card, const QString &text, const QByteArray &picture)
{
    const QRectF inner = card.adjusted(kCardPad, kCardPad, -kCardPad, -kCardPad);
    qreal top = inner.top();
    qreal room = inner.height();
    if (!picture.isEmpty()) {
        // A picture takes at most half the card when there is text beside it.
        const qreal boxHeight = text.trimmed().isEmpty() ? inner.height() : inner.height() / 2;
        const QSize box(int(inner.width() / kDotsPerInch * 300), int(boxHeight / kDotsPerInch * 300));
        const QImage image = ui::decodePicture(picture, box);
        if (!image.isNull()) {
            const QSize fitted = ui::fittedSize(image.size(), box);
            const qreal scale = inner.width() / box.width();
            const QSizeF size(fitted.width() * scale, fitted.height() * scale);
            page.pictures.push_back(
                {QRectF(QPointF(inner.left() + (inner.width() - size.width()) / 2, top), size), image});
            top += size.height() + dots(2);
            room -= size.height() + dots(2);
        }
    }
    if (text.isEmpty() || room <= 0)
        return;
    const Laid laid = fitText(text, inner.width(), room);
    page.texts.push_back(wholeBlock(laid, QPointF(inner.left(), top + (room - laid.height) / 2)));
}

} // namespace

Document layOutList(const std::vector<PrintSubject> &subjects, Paper paper)
{
    ListBuilder builder(paper);
    for (const PrintSubject &subject : subjects)
        builder.subject(subject);
    return builder.finish();
}

CardPlace cardPlace(int index, QSizeF page)
{
    const int perSheet = kCardColumns * kCardRows;
    const int sheet = index / perSheet;
    const int slot = index % perSheet;
    const int row = slot / kCardColumns;
    const int column = slot % kCardColumns;
    const QSizeF card(page.width() / kCardColumns, page.height() / kCardRows);
    const auto at = [&](int col) { return QRectF(QPointF(col * card.width(), row * card.height()), card); };
    return {2 * sheet, at(column), 2 * sheet + 1, at(kCardColumns - 1 - column)};
}

Document layOutCards(const std::vector<PrintSubject> &subjects, Paper paper)
{
    Document doc;
    doc.paper = paper;
    doc.size = pageSize(paper);
    int index = 0;
    for (const PrintSubject &subject : subjects) {
        for (const PrintCard &card : subject.cards) {
            const CardPlace place = cardPlace(index++, doc.size);
            if (size_t(place.backPage) >= doc.pages.size())
                doc.pages.resize(size_t(place.backPage) + 1);
            fillCard(doc.pages[size_t(place.frontPage)], place.front, card.question, card.questionPicture);
            fillCard(doc.pages[size_t(place.backPage)], place.back, card.answer, card.answerPicture);
        }
    }
    // Cutting lines between the cards, on both sides of every sheet.
    const qreal w = doc.size.width() / kCardColumns;
    const qreal h = doc.size.height() / kCardRows;
    for (Page &page : doc.pages) {
        for (int c = 1; c < kCardColumns; ++c)
            page.lines.emplace_back(c * w, 0, c * w, doc.size.height());
        for (int r = 1; r < kCardRows; ++r)
            page.lines.emplace_back(0, r * h, doc.size.width(), r * h);
    }
    return doc;
}

Document layOut(const std::vector<PrintSubject> &subjects, const PrintOptions &options)
{
    return options.layout == Layout::Cards ? layOutCards(subjects, options.paper) : layOutList(subjects, options.paper);
}

} // namespace tarlivo::print
