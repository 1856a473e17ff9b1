#pragma once

// Driving the real windows as a user would: typing, picking list entries and
// pressing the buttons. Shared by the tests and the crash driver.

#include "app/forms.h"
#include "app/frmbackground.h"
#include "app/frmwelcome.h"
#include "entry/frmneu.h"
#include "practice/frmedit.h"
#include "practice/frmueb.h"
#include "subjects/frmgebiete.h"
#include "ui/controls.h"

#include <QApplication>
#include <QKeyEvent>

namespace drive {

using namespace tarlivo::ui;
using namespace tarlivo::windows;
using namespace tarlivo::app;

template <class F>
F *shown(Forms &forms, const char *name)
{
    Form *form = forms.loaded(QString::fromLatin1(name));
    return form && form->isVisible() ? static_cast<F *>(form) : nullptr;
}

inline FrmGebiete *gebiete(Forms &forms) { return shown<FrmGebiete>(forms, "frmGebiete"); }
inline FrmNeu *neu(Forms &forms) { return shown<FrmNeu>(forms, "frmNeu"); }
inline FrmUeb *ueb(Forms &forms) { return shown<FrmUeb>(forms, "frmUeb"); }
inline FrmEdit *edit(Forms &forms) { return shown<FrmEdit>(forms, "frmEdit"); }
inline FrmWelcome *welcome(Forms &forms) { return shown<FrmWelcome>(forms, "frmWelcome"); }

// A window's control by its designed name, as a user finds it on screen. The
// windows keep their controls to themselves; tests look them up as a user would.
template <class T>
T *find(const QWidget *form, const char *name)
{
    T *control = form ? form->findChild<T *>(QString::fromUtf8(name), Qt::FindDirectChildrenOnly) : nullptr;
    // The edit window's button is designed as "cmdÜbernahme".
    if (!control && form && qstrcmp(name, "cmdUebernahme") == 0)
        control = form->findChild<T *>(QStringLiteral("cmdÜbernahme"), Qt::FindDirectChildrenOnly);
    if (!control)
        qFatal("no control %s in %s", name, form ? qPrintable(form->objectName()) : "no window");
    return control;
}
// A control of a window beyond the designed six, by its objectName.
template <class T>
T *ctl(const QWidget &window, const char *name)
{
    T *control = window.findChild<T *>(QString::fromUtf8(name));
    if (!control)
        qFatal("no control %s in %s", name, qPrintable(window.objectName()));
    return control;
}
inline CommandButton *button(const QWidget &form, const char *name) { return find<CommandButton>(&form, name); }
inline CommandButton *button(const QWidget *form, const char *name) { return find<CommandButton>(form, name); }
inline Label *label(const QWidget &form, const char *name) { return find<Label>(&form, name); }
inline Label *label(const QWidget *form, const char *name) { return find<Label>(form, name); }
inline TextBox *textBox(const QWidget &form, const char *name) { return find<TextBox>(&form, name); }
inline TextBox *textBox(const QWidget *form, const char *name) { return find<TextBox>(form, name); }
inline ComboBox *combo(const QWidget &form, const char *name) { return find<ComboBox>(&form, name); }
inline ComboBox *combo(const QWidget *form, const char *name) { return find<ComboBox>(form, name); }

// Lets windows unloaded by a handler go, as the event loop would.
inline void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

inline void click(QAbstractButton *button)
{
    button->click();
    settle();
}

// One key press of the first character, as typed, then the rest as if pasted:
// the box ends up holding exactly text, and its window saw a character typed.
inline void type(TextBox *box, const QString &text)
{
    box->setFocus();
    const QString first = text.isEmpty() ? QStringLiteral("x") : text.left(1);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, first);
    QApplication::sendEvent(box, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, first);
    QApplication::sendEvent(box, &release);
    box->setText(text);
}

// The entries of a list box, in order.
inline QStringList entries(const QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

// Picks the entry that reads name, or types name when there is none.
inline void choose(QComboBox *box, const QString &name)
{
    const int index = box->findText(name, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        box->setCurrentIndex(index);
    else
        box->setEditText(name);
}

// Start window to the subject window, on the practice road or the card-entry road.
inline FrmGebiete *toSubjects(Forms &forms, bool practice)
{
    if (!welcome(forms))
        forms.window<FrmWelcome>().showForm();
    click(practice ? button(forms.window<FrmWelcome>(), "cmdUeben") : button(forms.window<FrmWelcome>(), "cmdNeu"));
    return gebiete(forms);
}
inline FrmGebiete *toSubjectsForEntry(Forms &forms) { return toSubjects(forms, false); }
inline FrmGebiete *toSubjectsForPractice(Forms &forms) { return toSubjects(forms, true); }

// In the subject window on screen: picks or types name, then "Gebiet &übernehmen".
inline bool takeSubject(Forms &forms, const QString &name)
{
    FrmGebiete *g = gebiete(forms);
    if (!g)
        return false;
    choose(combo(g, "cmbGebiet"), name);
    click(button(g, "cmdUebernahmeGebiet"));
    return true;
}

// From the start window to the card entry or practice window of subject.
inline FrmNeu *openEntry(Forms &forms, const QString &subject)
{
    return toSubjectsForEntry(forms) && takeSubject(forms, subject) ? neu(forms) : nullptr;
}
inline FrmUeb *openPractice(Forms &forms, const QString &subject)
{
    return toSubjectsForPractice(forms) && takeSubject(forms, subject) ? ueb(forms) : nullptr;
}

// Types a card into the card entry window and presses "&Übernehmen".
inline void storeCard(FrmNeu *neu, const QString &question, const QString &answer)
{
    type(textBox(neu, "txtFrage"), question);
    type(textBox(neu, "txtAntwort"), answer);
    click(button(neu, "cmdUebernahme"));
}

// "&Neues Gebiet" on the subject window, answering the input box with name.
template <class Dialogs>
void newSubject(FrmGebiete *g, Dialogs &dialogs, const QString &name)
{
    dialogs.answers << name;
    click(button(g, "cmdGebietNeu"));
}

template <class Dialogs>
void renameSubject(FrmGebiete *g, Dialogs &dialogs, const QString &from, const QString &to)
{
    choose(combo(g, "cmbGebiet"), from);
    dialogs.answers << to;
    click(button(g, "cmdGebietEdit"));
}

// "&Edit" on the practice window, new texts, "&Übernehmen" on the edit window.
inline FrmEdit *editCard(Forms &forms, FrmUeb *ueb, const QString &question, const QString &answer)
{
    click(button(ueb, "cmdEdit"));
    FrmEdit *e = edit(forms);
    if (!e)
        return nullptr;
    textBox(e, "txtEditFrage")->setFocus();
    textBox(e, "txtEditFrage")->setText(question);
    textBox(e, "txtEditAntwort")->setText(answer);
    click(button(e, "cmdUebernahme"));
    return e;
}

} // namespace drive

// Every test reaches the windows and their controls by these names.
using drive::button;
using drive::combo;
using drive::ctl;
using drive::label;
using drive::textBox;
using tarlivo::app::FrmBackground;
using tarlivo::app::FrmWelcome;
using tarlivo::windows::FrmEdit;
using tarlivo::windows::FrmGebiete;
using tarlivo::windows::FrmNeu;
using tarlivo::windows::FrmUeb;
