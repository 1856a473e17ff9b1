#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>
#include <string>
#include <typeinfo>

namespace tarlivo::sync {
class Scheduler;
}

namespace tarlivo::ui {
class Navigator;
class Session;
} // namespace tarlivo::ui

namespace tarlivo::app {
// The windows beyond the designed six: each exists at most once, made the first
// time it is asked for, and stays with its state (a search, a chosen subject, a
// selection) until the program ends; it follows the session's store when the file
// is opened afresh.
class ToolWindows {
public:
    ToolWindows(ui::Session &session, ui::Navigator &navigator) : m_session(session), m_navigator(navigator) {}
    ToolWindows(const ToolWindows &) = delete;
    ToolWindows &operator=(const ToolWindows &) = delete;

    // Places a window the first time it shows (below the backdrop's menu bar).
    void setPlacer(std::function<void(QWidget &)> placer) { m_placer = std::move(placer); }
    // Where the sync window finds the syncs of the run.
    void setSyncs(std::function<sync::Scheduler &()> syncs) { m_syncs = std::move(syncs); }

    void openCardList();
    void openStatistics();
    void openPlan();
    // "Abfrage", on subject's due cards when one is named.
    void openQuiz(const QString &subject = {});
    void openImport();
    void openExport();
    void openPrint();
    void openSync();
    void openAbout();

    // The window of that kind, or null.
    template <class W>
    W *find() const
    {
        auto it = m_windows.find(typeid(W).name());
        return it == m_windows.end() ? nullptr : static_cast<W *>(it->second.data());
    }
    void closeAll();

private:
    template <class W, class Make>
    W &window(Make &&make)
    {
        QPointer<QWidget> &slot = m_windows[typeid(W).name()];
        if (!slot) {
            slot = make();
            closeOnEscape(*slot);
        }
        return static_cast<W &>(*slot);
    }
    // Escape closes every window; a dialog does so of its own.
    static void closeOnEscape(QWidget &window);
    // Shows a window in front, for the user to work in, placed when first shown.
    void present(QWidget &window);

    ui::Session &m_session;
    ui::Navigator &m_navigator;
    std::map<std::string, QPointer<QWidget>> m_windows;
    std::function<void(QWidget &)> m_placer;
    std::function<sync::Scheduler &()> m_syncs;
};

} // namespace tarlivo::app
