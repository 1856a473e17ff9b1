#pragma once

#include "shell/modpubs.h"

#include <QPointer>
#include <QString>

#include <functional>

class QWidget;

namespace tarlivo::ui {

class Dialogs;
class Form;
class FrmWelcome;
class FrmBackground;
class FrmGebiete;
class FrmNeu;
class FrmUeb;
class FrmEdit;

// Owns the six windows and the rule of their lives: each exists at most once, is
// created on first use and stays loaded; only the subject window is unloaded and
// comes back from its design. The shared state lives here too.
class Forms {
public:
    struct Setup {
        QString dataFile; // the database file
        StoreOptions storeOptions;
        std::function<void()> endProgram; // stops the run
        QString legacyReader = {};        // reader of old Access files; empty: beside the program
    };

    Forms(Dialogs &dialogs, Setup setup);
    ~Forms();
    Forms(const Forms &) = delete;
    Forms &operator=(const Forms &) = delete;

    ModPubs &pubs() { return m_pubs; }
    Dialogs &dialogs() { return m_dialogs; }
    const Setup &setup() const { return m_setup; }

    FrmWelcome &frmWelcome();
    FrmBackground &frmBackground();
    FrmGebiete &frmGebiete();
    FrmNeu &frmNeu();
    FrmUeb &frmUeb();
    FrmEdit &frmEdit();

    // The loaded window of that name, without creating it; nullptr if not loaded.
    Form *loaded(const QString &name) const;

    // Program start: creates the start window, whose load shows the backdrop.
    void start();
    // "&Ende": the run stops, with no question.
    void end();

    // Shows the subject window, loading it. When the database cannot serve, the
    // user has been told why, is back at the start window, and the result is null.
    FrmGebiete *showGebiete();
    // Discards a window; its next use builds it afresh from its design.
    void unload(Form &form);
    // A window closed through its title bar.
    void closedByUser(Form &form);

    // The open store; throws StoreError(NotConnected) before the first connection.
    Store &db();
    // Opens the database (ConnectDB), taking over a file of the older Access-based
    // program first; false after telling the user why not.
    bool connect(QWidget *parent);
    // The program that reads files of the older Access-based program.
    QString legacyReaderPath() const;

    // A message box over parent.
    void message(QWidget *parent, const QString &text);
    // Tells the user that a store operation failed.
    void report(QWidget *parent, const StoreError &error);

private:
    template <class F>
    F &get(QPointer<F> &slot);

    Dialogs &m_dialogs;
    Setup m_setup;
    ModPubs m_pubs;
    QPointer<FrmWelcome> m_welcome;
    QPointer<FrmBackground> m_background;
    QPointer<FrmGebiete> m_gebiete;
    QPointer<FrmNeu> m_neu;
    QPointer<FrmUeb> m_ueb;
    QPointer<FrmEdit> m_edit;
};

} // namespace tarlivo::ui
