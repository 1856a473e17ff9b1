#include "shell/forms.h"

#include "entry/frmneu.h"
#include "practice/frmedit.h"
#include "practice/frmueb.h"
#include "shell/datafile.h"
#include "shell/dialogs.h"
#include "shell/form.h"
#include "shell/frmbackground.h"
#include "shell/frmwelcome.h"
#include "shell/legacytakeover.h"
#include "shell/messages.h"
#include "subjects/frmgebiete.h"

#include <QApplication>
#include <QDir>

namespace tarlivo::ui {

Forms::Forms(Dialogs &dialogs, Setup setup) : m_dialogs(dialogs), m_setup(std::move(setup))
{
    auto previous = m_setup.storeOptions.backupFailed;
    // A failed backup never blocks the user, and only a full disk is worth a word.
    m_setup.storeOptions.backupFailed = [this, previous](const StoreError &error) {
        if (previous)
            previous(error);
        if (error.kind() == StoreErrorKind::Full)
            message(QApplication::activeWindow(), text::backupDiskFull(error.path()));
    };
}

Forms::~Forms()
{
    // Windows first: they may still refer to the shared state.
    delete m_edit.data();
    delete m_ueb.data();
    delete m_neu.data();
    delete m_gebiete.data();
    delete m_welcome.data();
    delete m_background.data();
}

template <class F>
F &Forms::get(QPointer<F> &slot)
{
    if (!slot) {
        slot = new F(*this);
        // The slot is set before the load runs, so the load may refer to its own window.
        slot->formLoad();
    }
    return *slot;
}

FrmWelcome &Forms::frmWelcome() { return get(m_welcome); }
FrmBackground &Forms::frmBackground() { return get(m_background); }
FrmGebiete &Forms::frmGebiete() { return get(m_gebiete); }
FrmNeu &Forms::frmNeu() { return get(m_neu); }
FrmUeb &Forms::frmUeb() { return get(m_ueb); }
FrmEdit &Forms::frmEdit() { return get(m_edit); }

Form *Forms::loaded(const QString &name) const
{
    for (Form *form : {static_cast<Form *>(m_welcome.data()), static_cast<Form *>(m_background.data()),
                       static_cast<Form *>(m_gebiete.data()), static_cast<Form *>(m_neu.data()),
                       static_cast<Form *>(m_ueb.data()), static_cast<Form *>(m_edit.data())})
        if (form && form->objectName() == name)
            return form;
    return nullptr;
}

void Forms::start() { frmWelcome().showForm(); }

void Forms::end()
{
    if (m_setup.endProgram)
        m_setup.endProgram();
}

FrmGebiete *Forms::showGebiete()
{
    FrmGebiete &gebiete = frmGebiete();
    if (!gebiete.isConnected()) {
        unload(gebiete);
        frmWelcome().showForm();
        return nullptr;
    }
    gebiete.showForm();
    return &gebiete;
}

void Forms::unload(Form &form)
{
    form.formUnload();
    form.hide();
    // Clear the slot now: the next use builds the window afresh even before the
    // old one is gone. Deletion waits, since form may be running a handler.
    if (&form == m_gebiete.data())
        m_gebiete.clear();
    else if (&form == m_neu.data())
        m_neu.clear();
    else if (&form == m_ueb.data())
        m_ueb.clear();
    else if (&form == m_edit.data())
        m_edit.clear();
    else if (&form == m_welcome.data())
        m_welcome.clear();
    else if (&form == m_background.data())
        m_background.clear();
    form.deleteLater();
}

void Forms::closedByUser(Form &form)
{
    // The start window and the backdrop end the program, as "&Ende" does. Any other
    // window is unloaded and the start window offers the way on.
    if (&form == m_welcome.data() || &form == m_background.data()) {
        end();
        return;
    }
    unload(form);
    frmWelcome().showForm();
}

Store &Forms::db()
{
    if (!m_pubs.DBConn)
        throw StoreError(StoreErrorKind::NotConnected, m_pubs.DBPath);
    return *m_pubs.DBConn;
}

bool Forms::connect(QWidget *parent)
{
    try {
        ConnectDB(m_pubs, m_setup.dataFile, m_setup.storeOptions);
        return true;
    } catch (const StoreError &error) {
        if (error.kind() == StoreErrorKind::LegacyFormat)
            return takeOverLegacyFile(*this, parent);
        message(parent, text::storeError(error, true));
        return false;
    }
}

QString Forms::legacyReaderPath() const
{
    if (!m_setup.legacyReader.isEmpty())
        return m_setup.legacyReader;
    return findLegacyReader(QCoreApplication::applicationDirPath());
}

void Forms::message(QWidget *parent, const QString &text) { m_dialogs.message(parent, text); }

void Forms::report(QWidget *parent, const StoreError &error) { message(parent, text::storeError(error)); }

} // namespace tarlivo::ui
