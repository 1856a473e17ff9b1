#include "ui/form.h"

#include "ui/controls.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

using namespace tarlivo::store;

namespace tarlivo::ui {

Form::Form(const FormDesign &design, WindowId id, Session &session, Navigator &navigator)
    : m_design(design), m_id(id), m_session(session), m_navigator(navigator)
{
    setObjectName(QString::fromUtf8(design.name));
    setWindowTitle(QString::fromUtf8(design.caption));
    // The designs were drawn for an 8-point dialog font; larger defaults cut captions.
    QFont dialogFont(QStringLiteral("Sans Serif"), 8);
    dialogFont.setStyleHint(QFont::SansSerif);
    setFont(dialogFont);
    resize(pixels(design.width), pixels(design.height));
    if (design.background != 0) {
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(design.background));
        setPalette(p);
        setAutoFillBackground(true);
    }
    build();
}

void Form::build()
{
    for (const ControlDesign &c : m_design.controls) {
        QWidget *widget = nullptr;
        const QString text = QString::fromUtf8(c.text);
        switch (c.kind) {
        case Kind::Label: {
            auto *label = new Label(this);
            label->setText(text);
            label->setWordWrap(c.flags & WordWrap);
            // The card's texts: one longer than the label scrolls within it.
            if (c.flags & WordWrap)
                label->setScrolling();
            if (c.flags & CentredText)
                label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            if (c.flags & TitleFont) {
                // The nearest to the designed "MS Sans Serif" on this platform.
                QFont font(QStringLiteral("Sans Serif"), 24, QFont::Normal);
                font.setStyleHint(QFont::SansSerif);
                label->setFont(font);
            }
            widget = label;
            break;
        }
        case Kind::TextBox: {
            auto *box = new TextBox(this);
            box->setText(text);
            widget = box;
            break;
        }
        case Kind::CommandButton: {
            auto *button = new CommandButton(this);
            button->setText(text);
            widget = button;
            break;
        }
        case Kind::ComboBox: {
            auto *combo = new ComboBox(this);
            combo->setEditText(text);
            widget = combo;
            break;
        }
        }
        widget->setObjectName(QString::fromUtf8(c.name));
        widget->setGeometry(pixels(c.left), pixels(c.top), pixels(c.width), pixels(c.height));
        if (c.accessibleName)
            widget->setAccessibleName(QString::fromUtf8(c.accessibleName));
        widget->setVisible(c.visible);
    }
    QWidget *previous = nullptr;
    for (QWidget *widget : tabOrder()) {
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
}

std::vector<QWidget *> Form::tabOrder() const
{
    // Labels hold a tab index but never take the focus.
    std::vector<const ControlDesign *> sorted;
    for (const ControlDesign &c : m_design.controls)
        if (c.kind != Kind::Label)
            sorted.push_back(&c);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const ControlDesign *a, const ControlDesign *b) { return a->tabIndex < b->tabIndex; });
    std::vector<QWidget *> widgets;
    widgets.reserve(sorted.size());
    for (const ControlDesign *c : sorted)
        widgets.push_back(control<QWidget>(c->name));
    return widgets;
}

void Form::showForm()
{
    if (!m_placed) {
        m_placed = true;
        if (m_design.placement == Placement::Maximised) {
            // Fill the work area also where no window manager maximises.
            if (const QScreen *screen = QGuiApplication::primaryScreen())
                setGeometry(screen->availableGeometry());
            showMaximized();
        } else {
            const QScreen *screen = QGuiApplication::primaryScreen();
            if (screen) {
                QRect frame(QPoint(), size());
                frame.moveCenter(screen->availableGeometry().center());
                move(frame.topLeft());
            }
            show();
            // move() places the frame, whose size is known only once the window is
            // shown: centre it again with its real frame, or it sits off by the margins.
            if (screen) {
                QRect frame = frameGeometry();
                frame.moveCenter(screen->availableGeometry().center());
                move(frame.topLeft());
            }
        }
        for (QWidget *widget : tabOrder()) {
            if (widget->isVisible() && widget->isEnabled()) {
                widget->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    } else {
        show();
    }
    raise();
    activateWindow();
}

void Form::closeEvent(QCloseEvent *event)
{
    event->accept();
    m_navigator.closedByUser(*this);
}

} // namespace tarlivo::ui
