#pragma once

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

class QScrollArea;

namespace tarlivo::ui {

// A multi-line plain-text box: word wrap, a vertical scroll bar only when the text
// does not fit, Enter makes a new line,
// Tab moves the focus on.
class TextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TextBox(QWidget *parent = nullptr);

    QString text() const { return toPlainText(); }
    void setText(const QString &text);

signals:
    // A key press that types a character into the box, also one composed from
    // dead keys or by an input method (not arrows, paste by mouse or text set from code).
    void characterTyped();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    // Breaks lines anywhere while the text holds a word too long for a line.
    void fitWrapping(const QString &text, bool onlyLoosen);
};

// A label that shows its caption as typed, never as rich text.
class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(QWidget *parent = nullptr);

    // Sets the caption, also in the scrolling area when there is one.
    void setText(const QString &text);
    // A caption taller than the label scrolls vertically inside the label's own
    // rectangle, with a scroll bar only then; the scrolling takes no focus.
    void setScrolling();
    // A scrolling label shows a picture below its caption, decoded now and scaled
    // down to the room the label has below the caption; bytes that are no picture
    // it can show (or none) leave the caption alone.
    void setPicture(const QByteArray &bytes);
    const QImage &picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QScrollArea *m_area = nullptr;
    QWidget *m_shown = nullptr; // paints the caption inside the scrolling area
    QImage m_picture;
};

// An editable drop-down list: never sorts, never adds typed text as an entry,
// never completes what the user types.
class ComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit ComboBox(QWidget *parent = nullptr);

    QString text() const { return currentText(); }
};

class CommandButton : public QPushButton {
    Q_OBJECT
public:
    explicit CommandButton(QWidget *parent = nullptr);
};

} // namespace tarlivo::ui
