#pragma once

#include <QString>
#include <QtGlobal>

#include <cstddef>

namespace tarlivo::ui {

class Form;

// The six designed windows, as the registry knows them.
enum class WindowId { Welcome, Background, Gebiete, Neu, Ueb, Edit };
inline constexpr std::size_t kWindowCount = 6;

// The two roads from the start window: typing new cards, or practising.
enum class Road { Entry, Practice };

// Which of the subject window's upkeep buttons stay: both (card-entry road), only
// the rename button (back from practice), or none (practice from the start window).
enum class Upkeep { NewAndRename, RenameOnly, None };

// The ways from one window to another. A window asks for them here; the program
// (the window registry) carries them out, so that no window includes another
// family's window or the registry.
class Navigator {
public:
    virtual ~Navigator() = default;

    // The start window, in front.
    virtual void showStart() = 0;
    // The backdrop with its menu bar, behind everything.
    virtual void showBackdrop() = 0;
    // The subject window for road, with the upkeep buttons named. False when the
    // data file cannot serve: the user has been told why and is at the start window.
    virtual bool showSubjects(Road road, Upkeep upkeep) = 0;
    // Card entry or practice of subject, named as typed or picked.
    virtual void startEntry(const QString &subject) = 0;
    virtual void startPractice(const QString &subject) = 0;
    // Practice of subject's due cards: the highest compartment holding a due card
    // first, then down, until none is left.
    virtual void startDuePractice(const QString &subject) = 0;
    // "Abfrage" of subject's due cards: typed or chosen answers.
    virtual void startQuiz(const QString &subject) = 0;
    // The edit window on the card on display in practice, with its texts as shown.
    virtual void editCard(qint32 card, const QString &subject, const QString &question, const QString &answer) = 0;
    // Discards a window; its next use builds it afresh from its design.
    virtual void unload(Form &form) = 0;
    // A window closed through its title bar.
    virtual void closedByUser(Form &form) = 0;
    // "&Ende": the run stops, with no question.
    virtual void end() = 0;
};

} // namespace tarlivo::ui
