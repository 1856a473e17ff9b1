#include "subjects/frmgebiete.h"

#include "store/numbertest.h"
#include "ui/controls.h"
#include "ui/dialogs.h"
#include "ui/messages.h"

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {

const FormDesign &FrmGebiete::layout()
{
    // clang-format off: one row per control, as the design table reads
    static const FormDesign design{
        "frmGebiete",
        "Gebiete",
        8655,
        3600,
        Placement::Centred,
        0,
        {
            {"cmdGebietEdit", Kind::CommandButton, "Gebietsname &editieren", 480, 2160, 7695, 735, 3, true},
            {"cmdUebernahmeGebiet", Kind::CommandButton, "Gebiet &übernehmen", 480, 1080, 3615, 735, 2, true},
            {"cmdGebietNeu", Kind::CommandButton, "&Neues Gebiet", 4560, 1080, 3615, 735, 1, true},
            {"cmbGebiet", Kind::ComboBox, "", 480, 360, 7695, 315, 0, true, NoFlags, "Gebiet"},
        }};
    // clang-format on
    return design;
}

FrmGebiete::FrmGebiete(Session &session, Navigator &navigator, Road road)
    : Form(layout(), kId, session, navigator), cmdGebietEdit(control<CommandButton>("cmdGebietEdit")),
      cmdUebernahmeGebiet(control<CommandButton>("cmdUebernahmeGebiet")),
      cmdGebietNeu(control<CommandButton>("cmdGebietNeu")), cmbGebiet(control<ComboBox>("cmbGebiet")), m_road(road)
{
    connect(cmdUebernahmeGebiet, &QPushButton::clicked, this, &FrmGebiete::cmdUebernahmeGebiet_Click);
    connect(cmdGebietNeu, &QPushButton::clicked, this, &FrmGebiete::cmdGebietNeu_Click);
    connect(cmdGebietEdit, &QPushButton::clicked, this, &FrmGebiete::cmdGebietEdit_Click);
    // Changed elsewhere while the list is open (an undo, another window): a subject whose
    // last card went leaves the practice list, and the subject picked stays picked.
    connect(&session, &Session::changed, this, [this](const Change &, const QObject *origin) {
        if (origin == this || !m_connected || !isVisible())
            return;
        const QString picked = cmbGebiet->text();
        FillGebiete();
        if (const int at = cmbGebiet->findText(picked, Qt::MatchFixedString | Qt::MatchCaseSensitive); at >= 0)
            cmbGebiet->setCurrentIndex(at);
    });
}

void FrmGebiete::formLoad()
{
    m_connected = session().ConnectDB(this);
    if (m_connected)
        FillGebiete();
}

void FrmGebiete::FillGebiete()
{
    try {
        Store &db = session().db();
        const QStringList names = m_road == Road::Practice ? db.subjectsWithCards() : db.allSubjects();
        // No row: the list stays exactly as it was.
        if (names.isEmpty())
            return;
        cmbGebiet->clear();
        cmbGebiet->addItems(names);
        cmbGebiet->setCurrentIndex(0);
    } catch (const StoreError &error) {
        session().report(this, error);
    }
}

void FrmGebiete::setUpkeep(Upkeep upkeep)
{
    if (upkeep != Upkeep::NewAndRename)
        cmdGebietNeu->setVisible(false);
    if (upkeep == Upkeep::None)
        cmdGebietEdit->setVisible(false);
}

bool FrmGebiete::GebietExists(const QString &name) { return session().db().subjectExists(name); }

void FrmGebiete::cmdUebernahmeGebiet_Click()
{
    // The name as it stands, typed or picked; the next window checks it.
    const QString subject = cmbGebiet->text();
    if (m_road == Road::Practice)
        navigator().startPractice(subject);
    else
        navigator().startEntry(subject);
    navigator().unload(*this);
}

std::optional<QString> FrmGebiete::askNewName(const QString &prompt, const QString &title,
                                              const QString &numbersMessage, const QString &renaming)
{
    // Blanks around a name only make it look like another subject's.
    const QString name = session().dialogs().input(this, prompt, title).trimmed();
    if (name.isEmpty()) {
        session().message(this, text::noTextEntered());
        return std::nullopt;
    }
    if (readsAsNumber(name)) {
        session().message(this, numbersMessage);
        return std::nullopt;
    }
    try {
        // The same subject in other capitals is a rename; the name unchanged is not.
        const bool sameSubject = !renaming.isNull() && name != renaming
                                 && session().db().subjectId(name) == session().db().subjectId(renaming);
        if (!sameSubject && GebietExists(name)) {
            session().message(this, text::subjectExists());
            return std::nullopt;
        }
    } catch (const StoreError &error) {
        session().report(this, error);
        return std::nullopt;
    }
    return name;
}

void FrmGebiete::tellSubject(std::optional<SubjectRow> before, std::optional<SubjectRow> after)
{
    // The other windows offer the subject names as they are now.
    Change change;
    change.subjects.push_back({std::move(before), std::move(after)});
    session().tell(change, this);
}

void FrmGebiete::cmdGebietNeu_Click()
{
    const std::optional<QString> name =
        askNewName(text::newSubjectPrompt(), text::newSubjectTitle(), text::numbersNotAllowedNew());
    if (!name)
        return;
    try {
        // The store checks the name once more inside its write, against a second copy.
        session().db().addSubject(*name);
        if (const std::optional<qint32> id = session().db().subjectId(*name))
            tellSubject(std::nullopt, SubjectRow{*id, *name});
    } catch (const StoreError &error) {
        session().report(this, error);
        return;
    }
    FillGebiete();
}

void FrmGebiete::cmdGebietEdit_Click()
{
    const QString oldName = cmbGebiet->text();
    // Only an existing subject can be renamed; say so before the user types a name.
    try {
        if (!GebietExists(oldName)) {
            session().message(this, text::unknownSubject(oldName));
            return;
        }
    } catch (const StoreError &error) {
        session().report(this, error);
        return;
    }
    const std::optional<QString> name =
        askNewName(text::renamePrompt(), text::renameTitle(), text::numbersNotAllowedRename(), oldName);
    if (!name)
        return;
    try {
        const std::optional<qint32> id = session().db().subjectId(oldName);
        session().db().renameSubject(oldName, *name);
        if (id)
            tellSubject(SubjectRow{*id, oldName}, SubjectRow{*id, *name});
    } catch (const StoreError &error) {
        if (error.kind() == StoreErrorKind::NotFound)
            session().message(this, text::unknownSubject(oldName));
        else
            session().report(this, error);
        return;
    }
    FillGebiete();
}

} // namespace tarlivo::windows
