#include "ui/controls.h"

#include "ui/picture.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QScrollArea>

#include <algorithm>

namespace tarlivo::ui {
namespace {

// Qt's wrapping at word boundaries takes time quadratic in the length of a word
// that does not fit on a line: a pasted megabyte without a blank froze the window
// for minutes. A word this long is broken anywhere in either mode.
constexpr qsizetype kLongestWrappedWord = 1000;

bool holdsLongWord(const QString &text)
{
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > kLongestWrappedWord)
            return true;
    }
    return false;
}

} // namespace

TextBox::TextBox(QWidget *parent) : QPlainTextEdit(parent)
{
    // A text longer than the box shows a scroll bar; lines never run out sideways.
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
}

void TextBox::setText(const QString &text)
{
    // Loosened before the new text is laid out, tightened only once the old one is gone.
    fitWrapping(text, true);
    setPlainText(text);
    fitWrapping(text, false);
}

void TextBox::insertFromMimeData(const QMimeData *source)
{
    if (source && source->hasText())
        fitWrapping(source->text(), true);
    QPlainTextEdit::insertFromMimeData(source);
}

void TextBox::fitWrapping(const QString &text, bool onlyLoosen)
{
    const QTextOption::WrapMode mode =
        holdsLongWord(text) ? QTextOption::WrapAnywhere : QTextOption::WrapAtWordBoundaryOrAnywhere;
    // Every change of mode lays the whole text out again.
    if (mode != wordWrapMode() && (mode == QTextOption::WrapAnywhere || !onlyLoosen))
        setWordWrapMode(mode);
}

void TextBox::keyPressEvent(QKeyEvent *event)
{
    // Alt with a key is an access key, also when its control is hidden or disabled
    // and the window takes it for nothing: it never types. AltGr (Ctrl+Alt on
    // some systems) types, as "@" on a German keyboard.
    const Qt::KeyboardModifiers mods = event->modifiers();
    if ((mods & Qt::AltModifier) && !(mods & Qt::ControlModifier) && !event->text().isEmpty()) {
        event->ignore();
        return;
    }
    // Character keys carry text; Delete carries a control character but types nothing.
    const bool typesCharacter = !event->text().isEmpty() && event->key() != Qt::Key_Delete
                                && event->key() != Qt::Key_Escape && event->key() != Qt::Key_Tab
                                && event->key() != Qt::Key_Backtab;
    QPlainTextEdit::keyPressEvent(event);
    if (typesCharacter)
        emit characterTyped();
}

void TextBox::inputMethodEvent(QInputMethodEvent *event)
{
    // Characters composed from dead keys ("´" then "e") arrive here, not as key presses.
    const bool typesCharacter = !event->commitString().isEmpty();
    QPlainTextEdit::inputMethodEvent(event);
    if (typesCharacter)
        emit characterTyped();
}

Label::Label(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextInteractionFlags(Qt::NoTextInteraction);
}

namespace {

// The caption of a scrolling label as the area shows it. Painted, not a label of its
// own: a screen reader meets the designed label alone, with its text.
class CaptionPane : public QWidget {
public:
    CaptionPane(const Label &label, QWidget *parent) : QWidget(parent), m_label(label)
    {
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
        policy.setHeightForWidth(true);
        setSizePolicy(policy);
        setFocusPolicy(Qt::NoFocus);
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override
    {
        const QImage &picture = m_label.picture();
        return picture.isNull() ? textRect(width).height() : pictureTop(width) + picture.height();
    }
    QSize sizeHint() const override { return {m_label.width(), heightForWidth(m_label.width())}; }
    QSize minimumSizeHint() const override { return {0, heightForWidth(width())}; }
    int pictureTopFor(int width) const { return pictureTop(width); }
    void textChanged()
    {
        updateGeometry();
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), flags(), m_label.text());
        // The picture below the caption, centred across the label.
        const QImage &picture = m_label.picture();
        if (!picture.isNull()) {
            painter.drawImage(QPoint(std::max(0, (width() - picture.width()) / 2), pictureTop(width())), picture);
        }
    }

private:
    int pictureTop(int width) const { return m_label.text().isEmpty() ? 0 : textRect(width).height() + 4; }
    int flags() const { return int(m_label.alignment()) | (m_label.wordWrap() ? Qt::TextWordWrap : 0); }
    QRect textRect(int width) const
    {
        return fontMetrics().boundingRect(QRect(0, 0, std::max(width, 1), 1 << 24), flags(), m_label.text());
    }

    const Label &m_label;
};

} // namespace

void Label::setText(const QString &text)
{
    QLabel::setText(text);
    if (m_shown)
        static_cast<CaptionPane *>(m_shown)->textChanged();
}

void Label::setPicture(const QByteArray &bytes)
{
    m_picture = QImage();
    if (m_shown && !bytes.isEmpty()) {
        // The room below the caption, at least half the label: a long caption scrolls.
        const int width = std::max(1, m_area->viewport()->width());
        const int caption = static_cast<CaptionPane *>(m_shown)->pictureTopFor(width);
        m_picture = decodePicture(bytes, QSize(width, std::max(height() - caption, height() / 2)));
    }
    if (m_shown)
        static_cast<CaptionPane *>(m_shown)->textChanged();
}

void Label::setScrolling()
{
    if (m_area)
        return;
    m_area = new QScrollArea(this);
    m_area->setFrameShape(QFrame::NoFrame);
    m_area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_area->setWidgetResizable(true);
    // The design's tab order knows no such stop; the wheel and the bar still scroll it.
    m_area->setFocusPolicy(Qt::NoFocus);
    m_area->viewport()->setAutoFillBackground(false);
    m_shown = new CaptionPane(*this, m_area);
    m_area->setWidget(m_shown);
    m_area->setGeometry(rect());
}

void Label::paintEvent(QPaintEvent *event)
{
    // A scrolling label leaves the painting to its area.
    if (!m_area)
        QLabel::paintEvent(event);
}

void Label::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    if (m_area)
        m_area->setGeometry(rect());
}

ComboBox::ComboBox(QWidget *parent) : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    setDuplicatesEnabled(true);
}

CommandButton::CommandButton(QWidget *parent) : QPushButton(parent)
{
    setAutoDefault(false);
    setDefault(false);
}

} // namespace tarlivo::ui
