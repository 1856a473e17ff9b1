#include "practice/frmedit.h"

#include "ui/controls.h"
#include "ui/messages.h"

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {

bool reportMissingCard(Session &session, QWidget *window, qint32 card)
{
    bool gone = true;
    try {
        gone = !session.db().cardRow(card);
    } catch (const StoreError &error) {
        session.report(window, error);
        return false;
    }
    session.message(window, gone ? text::cardGone() : text::cardMissing(card));
    return gone;
}

const FormDesign &FrmEdit::layout()
{
    // clang-format off: one row per control, as the design table reads
    static const FormDesign design{
        "frmEdit",
        "Edit",
        8550,
        5655,
        Placement::Centred,
        0,
        {
            {"cmdÜbernahme", Kind::CommandButton, "&Übernehmen", 360, 4320, 7815, 615, 4, true},
            {"txtEditAntwort", Kind::TextBox, "Text1", 4440, 1080, 3735, 3015, 1, true, NoFlags, "Antwort"},
            {"txtEditFrage", Kind::TextBox, "Text1", 360, 1080, 3735, 3015, 0, true, NoFlags, "Frage"},
            {"Label2", Kind::Label, "Antwort", 4560, 720, 1095, 255, 3, true},
            {"Label1", Kind::Label, "Frage", 480, 720, 1095, 255, 2, true},
        }};
    // clang-format on
    return design;
}

FrmEdit::FrmEdit(Session &session, Navigator &navigator)
    : Form(layout(), kId, session, navigator), cmdUebernahme(control<CommandButton>("cmdÜbernahme")),
      txtEditAntwort(control<TextBox>("txtEditAntwort")), txtEditFrage(control<TextBox>("txtEditFrage"))
{
    connect(cmdUebernahme, &QPushButton::clicked, this, &FrmEdit::cmdUebernahme_Click);
}

void FrmEdit::editCard(qint32 card, const QString &subject, const QString &question, const QString &answer)
{
    m_card = card;
    showForm();
    txtEditAntwort->setText(answer);
    txtEditFrage->setText(question);
    setWindowTitle(subject);
}

void FrmEdit::cmdUebernahme_Click()
{
    // Only a box without any character is empty; a single space is a text, and so
    // is a picture or sound on that side.
    const auto sideHasMedia = [this](CardSide side) {
        try {
            return m_card && !session().db().cardMedia(*m_card, side).empty();
        } catch (const StoreError &) {
            return false;
        }
    };
    if ((txtEditAntwort->text().isEmpty() && !sideHasMedia(CardSide::Answer))
        || (txtEditFrage->text().isEmpty() && !sideHasMedia(CardSide::Question))) {
        session().message(this, text::missingInput());
        return;
    }
    SaveEdit();
}

void FrmEdit::SaveEdit()
{
    if (!m_card) {
        session().message(this, text::noCardOnDisplay());
        return;
    }
    const qint32 card = *m_card;
    try {
        Change change;
        session().db().saveCardText(card, txtEditFrage->text(), txtEditAntwort->text(), &change);
        session().record(text::editCardLabel(txtEditFrage->text()), change, this);
    } catch (const StoreError &error) {
        if (error.kind() != StoreErrorKind::NotFound) {
            session().report(this, error);
        } else if (reportMissingCard(session(), this, card)) {
            m_card.reset();
            hide();
            emit cardGone();
        }
        return;
    }
    emit saved(txtEditFrage->text(), txtEditAntwort->text());
    hide();
}

} // namespace tarlivo::windows
