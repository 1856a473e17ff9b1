#pragma once

#include <QByteArray>
#include <QImage>
#include <QLineF>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <memory>
#include <set>
#include <vector>

class QPainter;
class QTextLayout;

namespace tarlivo::store {
class Store;
}

// Printing: the cards read once, laid out once into pages of placed texts, pictures
// and lines, and those pages drawn by one routine on whatever device asks for them
// (preview, printer, PDF). Nothing here needs a widget or Qt PrintSupport.
namespace tarlivo::print {

// Places on a page count in dots of 1/1200 inch from its top left corner, whatever
// the device: the layout never depends on a printer's resolution.
inline constexpr qreal kDotsPerInch = 1200;
constexpr qreal dots(qreal mm) { return mm / 25.4 * kDotsPerInch; }

enum class Layout { List, Cards };
enum class Paper { A4, Letter };
QSizeF pageSize(Paper paper);

struct PrintOptions {
    QString subject; // empty: all subjects
    Layout layout = Layout::List;
    std::set<qint32> compartments; // empty: all
    Paper paper = Paper::A4;
};

// What is printed of a card: both texts, its compartment and each side's picture file.
struct PrintCard {
    QString question;
    QString answer;
    qint32 compartment = 1;
    QByteArray questionPicture;
    QByteArray answerPicture;
};
struct PrintSubject {
    QString name;
    std::vector<PrintCard> cards; // in practice order
};

// The subjects options name (all holding cards, or the one), each with its cards of
// the compartments chosen in practice order; subjects left without cards are left
// out. Throws StoreError; an unknown subject gives an empty list.
std::vector<PrintSubject> readCards(store::Store &store, const PrintOptions &options);
qint64 cardCount(const std::vector<PrintSubject> &subjects);

// A run of lines of a laid-out text: lines [firstLine, firstLine + lineCount) drawn
// with the layout's origin at offset.
struct TextBlock {
    std::shared_ptr<const QTextLayout> layout;
    int firstLine = 0;
    int lineCount = 0;
    QPointF offset;
};
struct PictureBlock {
    QRectF rect;
    QImage image;
};
struct Page {
    std::vector<TextBlock> texts;
    std::vector<PictureBlock> pictures;
    std::vector<QLineF> lines; // thin rules and cutting lines
};
struct Document {
    Paper paper = Paper::A4;
    QSizeF size; // of a page, in dots
    std::vector<Page> pages;
};

// The list: per subject its name and a table Frage | Antwort | Fach, rows split
// across pages where they must be, "Seite n von m" at each page's foot.
Document layOutList(const std::vector<PrintSubject> &subjects, Paper paper);
// The cards to cut out: 2 x 4 a sheet, a page of questions, then one of answers.
Document layOutCards(const std::vector<PrintSubject> &subjects, Paper paper);
Document layOut(const std::vector<PrintSubject> &subjects, const PrintOptions &options);

// Where card index (0-based, in print order) lies: its question on one page, its
// answer on the next, in the mirrored column of the same row, so that printed on
// both sides and turned over the long edge each answer lies behind its question.
struct CardPlace {
    int frontPage = 0;
    QRectF front;
    int backPage = 0;
    QRectF back;
};
CardPlace cardPlace(int index, QSizeF page);
inline constexpr int kCardColumns = 2;
inline constexpr int kCardRows = 4;

// Draws page index onto painter, whose device is a whole sheet (no margins); its
// resolution tells the scale.
void paintPage(QPainter &painter, const Document &document, int index);

// Writes the document as a PDF with its fonts embedded, under a temporary name that
// becomes path only once it is complete. Throws PrintError.
void writePdf(const Document &document, const QString &path);

// A refusal, in German for the user.
class PrintError {
public:
    explicit PrintError(QString message) : m_message(std::move(message)) {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

} // namespace tarlivo::print
