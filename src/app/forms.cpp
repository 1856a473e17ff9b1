#include "app/forms.h"

#include "app/frmbackground.h"
#include "app/frmwelcome.h"
#include "app/mainmenu.h"
#include "entry/frmneu.h"
#include "practice/frmedit.h"
#include "practice/frmueb.h"
#include "subjects/frmgebiete.h"
#include "sync/scheduler.h"

#include <QGuiApplication>
#include <QScreen>

#include <vector>

using namespace tarlivo::store;
using namespace tarlivo::ui;
using namespace tarlivo::windows;

namespace tarlivo::app {
namespace {

// What closing each window through its title bar does, in WindowId order: the
// start window and the backdrop end the program.
constexpr bool kClosingEndsProgram[] = {true, true, false, false, false, false};
static_assert(std::size(kClosingEndsProgram) == kWindowCount);

// A window beyond the six opens inside area (below the backdrop's menu bar), beside
// the start window where there is room for it, else over it; never taller than area.
void placeTool(QWidget &tool, const QRect &area, const QRect &startWindow)
{
    constexpr int kMargin = 8;
    const QMargins frame(tool.geometry().left() - tool.frameGeometry().left(),
                         tool.geometry().top() - tool.frameGeometry().top(),
                         tool.frameGeometry().right() - tool.geometry().right(),
                         tool.frameGeometry().bottom() - tool.geometry().bottom());
    const QRect room = area.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    QSize size = tool.frameGeometry().size().boundedTo(room.size());
    tool.resize(size.shrunkBy(frame).expandedTo(tool.minimumSize()));
    size = tool.frameGeometry().size();
    std::vector<QPoint> corners{room.topLeft()};
    if (startWindow.isValid()) {
        corners.emplace_back(startWindow.right() + 1 + kMargin, room.top());
        corners.emplace_back(startWindow.left() - kMargin - size.width(), room.top());
        corners.emplace_back(room.left(), startWindow.bottom() + 1 + kMargin);
    }
    QPoint chosen = room.topLeft();
    for (const QPoint &corner : corners) {
        const QRect place(corner, size);
        if (room.contains(place) && !place.intersects(startWindow)) {
            chosen = corner;
            break;
        }
    }
    tool.move(chosen);
}

} // namespace

Forms::Forms(Dialogs &dialogs, Setup setup) : m_session(dialogs, std::move(setup)), m_tools(m_session, *this)
{
    m_tools.setPlacer([this](QWidget &tool) {
        const QScreen *screen = tool.screen() ? tool.screen() : QGuiApplication::primaryScreen();
        QRect area = screen ? screen->availableGeometry() : tool.frameGeometry();
        const auto *backdrop = static_cast<const FrmBackground *>(m_windows[std::size_t(WindowId::Background)].data());
        if (backdrop && backdrop->isVisible())
            area = backdrop->freeArea().intersected(area);
        const Form *start = m_windows[std::size_t(WindowId::Welcome)].data();
        placeTool(tool, area, start && start->isVisible() ? start->frameGeometry() : QRect());
    });
    m_tools.setSyncs([this]() -> sync::Scheduler & { return syncScheduler(); });
}

Forms::~Forms()
{
    m_tools.closeAll();
    // The last sync, with a bounded wait, while the store and the windows are there.
    m_sync.reset();
    // Windows first, the backdrop last: they may still refer to the session.
    for (std::size_t i = kWindowCount; i-- > 0;)
        delete m_windows[i].data();
}

Form *Forms::create(WindowId id, Road road)
{
    switch (id) {
    case WindowId::Welcome:
        return new FrmWelcome(m_session, *this);
    case WindowId::Background: {
        auto *backdrop = new FrmBackground(m_session, *this);
        backdrop->setMenuBar((new MainMenu(m_session, m_tools, backdrop))->bar());
        QObject::connect(backdrop, &FrmBackground::onScreen, backdrop, [this] { startSync(); });
        return backdrop;
    }
    case WindowId::Gebiete:
        return new FrmGebiete(m_session, *this, road);
    case WindowId::Neu:
        return new FrmNeu(m_session, *this);
    case WindowId::Ueb:
        return new FrmUeb(m_session, *this);
    case WindowId::Edit:
        return new FrmEdit(m_session, *this);
    }
    Q_UNREACHABLE();
}

Form &Forms::get(WindowId id, Road road)
{
    QPointer<Form> &slot = m_windows[std::size_t(id)];
    if (!slot) {
        slot = create(id, road);
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

void Forms::start() { showStart(); }

sync::Scheduler &Forms::syncScheduler()
{
    if (m_sync)
        return *m_sync;
    const Session::Setup &setup = m_session.setup();
    m_sync = std::make_unique<sync::Scheduler>(
        sync::Scheduler::Setup{setup.dataFile, setup.storeOptions, setup.syncEvery, setup.syncEndWait});
    sync::Scheduler *syncs = m_sync.get();
    QObject::connect(syncs, &sync::Scheduler::finished, syncs, [this, syncs] {
        if (auto *backdrop = static_cast<FrmBackground *>(m_windows[std::size_t(WindowId::Background)].data()))
            backdrop->setSyncStatus(syncs->status());
    });
    // The windows read the file afresh, as after an import; a step taken back before
    // may have lost its queue places to the cards that came in.
    QObject::connect(syncs, &sync::Scheduler::merged, syncs, [this, syncs] {
        m_session.history().dropRedo();
        m_session.tell(Change{}, syncs);
    });
    return *m_sync;
}

void Forms::startSync()
{
    Store *store = m_session.store();
    if (!store)
        return;
    std::optional<QString> folder;
    try {
        folder = sync::folder(*store);
    } catch (const StoreError &) {
        return; // the windows tell about a file that cannot serve
    }
    if (!folder || folder->isEmpty())
        return;
    sync::Scheduler &syncs = syncScheduler();
    syncs.setFolder(*folder);
    syncs.syncNow();
}

void Forms::showStart() { window<FrmWelcome>().showForm(); }

void Forms::showBackdrop() { window<FrmBackground>().showForm(); }

bool Forms::showSubjects(Road road, Upkeep upkeep) { return showGebiete(road, upkeep) != nullptr; }

FrmGebiete *Forms::showGebiete(Road road, Upkeep upkeep)
{
    auto &gebiete = static_cast<FrmGebiete &>(get(WindowId::Gebiete, road));
    gebiete.setRoad(road);
    if (!gebiete.isConnected()) {
        unload(gebiete);
        showStart();
        return nullptr;
    }
    gebiete.showForm();
    gebiete.setUpkeep(upkeep);
    return &gebiete;
}

void Forms::startEntry(const QString &subject) { window<FrmNeu>().startEntry(subject); }

void Forms::startPractice(const QString &subject) { window<FrmUeb>().startPractice(subject); }

void Forms::startDuePractice(const QString &subject) { window<FrmUeb>().startDuePractice(subject); }

void Forms::startQuiz(const QString &subject) { m_tools.openQuiz(subject); }

void Forms::editCard(qint32 card, const QString &subject, const QString &question, const QString &answer)
{
    FrmEdit &edit = window<FrmEdit>();
    FrmUeb &practice = window<FrmUeb>();
    QObject::connect(&edit, &FrmEdit::saved, &practice, &FrmUeb::showEditedCard, Qt::UniqueConnection);
    QObject::connect(&edit, &FrmEdit::cardGone, &practice, &FrmUeb::goOnAfterEdit, Qt::UniqueConnection);
    edit.editCard(card, subject, question, answer);
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
    // Any window but the start window and the backdrop is unloaded, and the start
    // window offers the way on.
    if (kClosingEndsProgram[std::size_t(form.id())]) {
        end();
        return;
    }
    unload(form);
    showStart();
}

} // namespace tarlivo::app
