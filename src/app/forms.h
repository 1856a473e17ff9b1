#pragma once

#include "app/toolwindows.h"
#include "ui/navigator.h"
#include "ui/session.h"

#include <QPointer>
#include <QString>

#include <array>
#include <memory>

namespace tarlivo::sync {
class Scheduler;
}

namespace tarlivo::ui {
class Dialogs;
class Form;
} // namespace tarlivo::ui

namespace tarlivo::windows {
class FrmGebiete;
} // namespace tarlivo::windows

namespace tarlivo::app {
// Owns the six windows and the rule of their lives: each exists at most once, is
// created on first use and stays loaded; only the subject window is unloaded and
// comes back from its design. It carries out the windows' ways to each other, and
// keeps the session and the windows beyond the six.
class Forms final : public ui::Navigator {
public:
    using Setup = ui::Session::Setup;

    Forms(ui::Dialogs &dialogs, Setup setup);
    ~Forms() override;
    Forms(const Forms &) = delete;
    Forms &operator=(const Forms &) = delete;

    ui::Session &session() { return m_session; }
    ToolWindows &tools() { return m_tools; }
    // The run's syncs, made on first need (a folder set for the file, the sync
    // window opened); null before.
    sync::Scheduler *syncs() const { return m_sync.get(); }

    // The window, created and loaded on first use.
    template <class F>
    F &window()
    {
        return static_cast<F &>(get(F::kId));
    }
    // The loaded window of that name, without creating it; nullptr if not loaded.
    ui::Form *loaded(const QString &name) const;

    // Program start: creates the start window, whose load shows the backdrop.
    void start();
    // Shows the subject window for road, loading it, with the upkeep buttons named.
    // When the database cannot serve, the user has been told why, is back at the
    // start window, and the result is null.
    windows::FrmGebiete *showGebiete(ui::Road road, ui::Upkeep upkeep);

    // Navigator
    void showStart() override;
    void showBackdrop() override;
    bool showSubjects(ui::Road road, ui::Upkeep upkeep) override;
    void startEntry(const QString &subject) override;
    void startPractice(const QString &subject) override;
    void startDuePractice(const QString &subject) override;
    void startQuiz(const QString &subject) override;
    void editCard(qint32 card, const QString &subject, const QString &question, const QString &answer) override;
    void unload(ui::Form &form) override;
    void closedByUser(ui::Form &form) override;
    void end() override { m_session.end(); }

private:
    // road: what the subject window lists when it is created now.
    ui::Form &get(ui::WindowId id, ui::Road road = ui::Road::Entry);
    ui::Form *create(ui::WindowId id, ui::Road road);
    sync::Scheduler &syncScheduler();
    // The first window is on screen: with a folder set for the file, the first sync.
    void startSync();

    ui::Session m_session;
    ToolWindows m_tools;
    std::array<QPointer<ui::Form>, ui::kWindowCount> m_windows;
    std::unique_ptr<sync::Scheduler> m_sync;
};

} // namespace tarlivo::app
