#pragma once

#include "ui/form.h"

#include <optional>

namespace tarlivo::ui {
class CommandButton;
class Label;
class TextBox;
} // namespace tarlivo::ui

namespace tarlivo::windows {
// Tells the user that card, which a change needed, is missing: deleted meanwhile
// (true) or, when one of its rows is left, lost through damage to the file (false).
bool reportMissingCard(ui::Session &session, QWidget *window, qint32 card);

// Correcting the texts of the card on display.
class FrmEdit : public ui::Form {
    Q_OBJECT
public:
    static constexpr ui::WindowId kId = ui::WindowId::Edit;
    static const ui::FormDesign &layout();
    FrmEdit(ui::Session &session, ui::Navigator &navigator);

    // Shows the window for correcting card of subject, its texts as offered.
    void editCard(qint32 card, const QString &subject, const QString &question, const QString &answer);

signals:
    // The card's texts were written as they now read; the window has gone.
    void saved(const QString &question, const QString &answer);
    // The card was deleted meanwhile (here or by another running copy); the user was
    // told and the window has gone.
    void cardGone();

private:
    void cmdUebernahme_Click();
    void SaveEdit();

    ui::CommandButton *cmdUebernahme; // designed as "cmdÜbernahme"
    ui::TextBox *txtEditAntwort;
    ui::TextBox *txtEditFrage;

    std::optional<qint32> m_card;
};

} // namespace tarlivo::windows
