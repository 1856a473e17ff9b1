#pragma once

#include "shell/session.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <string>
#include <typeinfo>

namespace tarlivo::ui {

class Dialogs;
class Form;
class FrmGebiete;

// The six designed windows, as the registry knows them.
enum class WindowId { Welcome, Background, Gebiete, Neu, Ueb, Edit };
inline constexpr std::size_t kWindowCount = 6;

// Which of the subject window's upkeep buttons stay: both (card-entry road), only
// the rename button (back from practice), or none (practice from the start window).
enum class Upkeep { NewAndRename, RenameOnly, None };

// Owns the six windows and the rule of their lives: each exists at most once, is
// created on first use and stays loaded; only the subject window is unloaded and
// comes back from its design. The shared session lives here too.
class Forms {
public:
    using Setup = Session::Setup;

    Forms(Dialogs &dialogs, Setup setup);
    ~Forms();
    Forms(const Forms &) = delete;
    Forms &operator=(const Forms &) = delete;

    Session &session() { return m_session; }

    // The window, created and loaded on first use.
    template <class F>
    F &window()
    {
        return static_cast<F &>(get(F::kId));
    }
    // The loaded window of that name, without creating it; nullptr if not loaded.
    Form *loaded(const QString &name) const;

    // A window beyond the designed six: it too exists at most once, made by make()
    // the first time it is asked for, and stays until dropped.
    template <class W, class Make>
    W &tool(Make &&make)
    {
        QPointer<QWidget> &slot = m_tools[typeid(W).name()];
        if (!slot)
            slot = make();
        return static_cast<W &>(*slot);
    }
    // The window of that kind, or null.
    template <class W>
    W *openTool() const
    {
        auto it = m_tools.find(typeid(W).name());
        return it == m_tools.end() ? nullptr : static_cast<W *>(it->second.data());
    }
    // Discards the window of that kind; true when it was on screen.
    template <class W>
    bool dropTool()
    {
        QPointer<QWidget> &slot = m_tools[typeid(W).name()];
        const bool shown = slot && slot->isVisible();
        delete slot.data();
        return shown;
    }
    // Shows a window in front, for the user to work in.
    static void present(QWidget &window);
    // The store is open, connecting first when no window has yet; false after
    // telling the user why not.
    bool ensureStore(QWidget *parent);

    // Program start: creates the start window, whose load shows the backdrop.
    void start();
    // "&Ende": the run stops, with no question.
    void end() { m_session.end(); }

    // Shows the subject window for road, loading it, with the upkeep buttons named.
    // When the database cannot serve, the user has been told why, is back at the
    // start window, and the result is null.
    FrmGebiete *showGebiete(Road road, Upkeep upkeep);
    // Discards a window; its next use builds it afresh from its design.
    void unload(Form &form);
    // A window closed through its title bar.
    void closedByUser(Form &form);

private:
    // road: what the subject window lists when it is created now.
    Form &get(WindowId id, Road road = Road::Entry);

    Session m_session;
    std::array<QPointer<Form>, kWindowCount> m_windows;
    std::map<std::string, QPointer<QWidget>> m_tools;
};

} // namespace tarlivo::ui
