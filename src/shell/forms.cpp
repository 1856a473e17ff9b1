#include "shell/forms.h"

#include "entry/frmneu.h"
#include "practice/frmedit.h"
#include "practice/frmueb.h"
#include "shell/form.h"
#include "shell/frmbackground.h"
#include "shell/frmwelcome.h"
#include "subjects/frmgebiete.h"

namespace tarlivo::ui {
namespace {

// What the registry knows of each window, in WindowId order: how to build it, and
// what closing it through its title bar does.
struct WindowKind {
    WindowId id;
    Form *(*create)(Session &, Forms &, Road);
    bool closingEndsProgram;
};

template <class F>
Form *make(Session &session, Forms &forms, Road)
{
    return new F(session, forms);
}

template <>
Form *make<FrmGebiete>(Session &session, Forms &forms, Road road)
{
    return new FrmGebiete(session, forms, road);
}

constexpr WindowKind kWindows[] = {
    {WindowId::Welcome, &make<FrmWelcome>, true},  {WindowId::Background, &make<FrmBackground>, true},
    {WindowId::Gebiete, &make<FrmGebiete>, false}, {WindowId::Neu, &make<FrmNeu>, false},
    {WindowId::Ueb, &make<FrmUeb>, false},         {WindowId::Edit, &make<FrmEdit>, false},
};
static_assert(std::size(kWindows) == kWindowCount);

const WindowKind &kindOf(WindowId id) { return kWindows[std::size_t(id)]; }

} // namespace

Forms::Forms(Dialogs &dialogs, Setup setup) : m_session(dialogs, std::move(setup))
{
    for (std::size_t i = 0; i < kWindowCount; ++i)
        Q_ASSERT(kWindows[i].id == WindowId(i));
}

Forms::~Forms()
{
    for (auto &[kind, window] : m_tools)
        delete window.data();
    // Windows first, the backdrop last: they may still refer to the session.
    for (std::size_t i = kWindowCount; i-- > 0;)
        delete m_windows[i].data();
}

Form &Forms::get(WindowId id, Road road)
{
    QPointer<Form> &slot = m_windows[std::size_t(id)];
    if (!slot) {
        slot = kindOf(id).create(m_session, *this, road);
        // The slot is set before the load runs, so the load may refer to its own window.
        slot->formLoad();
    }
    return *slot;
}

Form *Forms::loaded(const QString &name) const
{
    for (const QPointer<Form> &form : m_windows)
        if (form && form->objectName() == name)
            return form.data();
    return nullptr;
}

void Forms::present(QWidget &window)
{
    window.show();
    window.raise();
    window.activateWindow();
}

bool Forms::ensureStore(QWidget *parent) { return m_session.store() || m_session.ConnectDB(parent); }

void Forms::start() { window<FrmWelcome>().showForm(); }

FrmGebiete *Forms::showGebiete(Road road, Upkeep upkeep)
{
    auto &gebiete = static_cast<FrmGebiete &>(get(WindowId::Gebiete, road));
    gebiete.setRoad(road);
    if (!gebiete.isConnected()) {
        unload(gebiete);
        window<FrmWelcome>().showForm();
        return nullptr;
    }
    gebiete.showForm();
    gebiete.setUpkeep(upkeep);
    return &gebiete;
}

void Forms::unload(Form &form)
{
    form.formUnload();
    form.hide();
    // Clear the slot now: the next use builds the window afresh even before the
    // old one is gone. Deletion waits, since form may be running a handler.
    for (QPointer<Form> &slot : m_windows)
        if (slot == &form)
            slot.clear();
    form.deleteLater();
}

void Forms::closedByUser(Form &form)
{
    // The start window and the backdrop end the program, as "&Ende" does. Any other
    // window is unloaded and the start window offers the way on.
    if (kindOf(form.id()).closingEndsProgram) {
        end();
        return;
    }
    unload(form);
    window<FrmWelcome>().showForm();
}

} // namespace tarlivo::ui
