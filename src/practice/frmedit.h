#pragma once

#include "ui/form.h"

#include <optional>

namespace tarlivo::ui {

class CommandButton;
class Label;
class TextBox;

// Correcting the texts of the card on display.
class FrmEdit : public Form {
    Q_OBJECT
public:
    static constexpr WindowId kId = WindowId::Edit;
    static const FormDesign &layout();
    FrmEdit(Session &session, Navigator &navigator);

    // Shows the window for correcting card of subject, its texts as offered.
    void editCard(qint32 card, const QString &subject, const QString &frage, const QString &antwort);

signals:
    // The card's texts were written as they now read; the window has gone.
    void saved(const QString &frage, const QString &antwort);

private:
    void cmdUebernahme_Click();
    void SaveEdit();

    CommandButton *cmdUebernahme; // designed as "cmdÜbernahme"
    TextBox *txtEditAntwort;
    TextBox *txtEditFrage;

    std::optional<qint32> m_card;
};

} // namespace tarlivo::ui
