#include "transfer/importer.h"

#include "store/collation.h"
#include "store/names.h"
#include "store/numbertest.h"
#include "transfer/anki.h"
#include "transfer/delimited.h"
#include "transfer/foreignfile.h"
#include "transfer/html.h"
#include "transfer/textdecode.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>

#include <limits>
#include <unordered_map>

namespace tarlivo::transfer {
namespace {

bool isZip(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(4);
    return head == QByteArray("PK\x03\x04", 4) || head == QByteArray("PK\x05\x06", 4);
}

// Whether the bytes open as XML (after a byte order mark and blanks), or the name
// says the file is kvtml or Pauker: such a file is never taken for text.
bool meantAsXml(const QByteArray &data, const QString &path)
{
    for (const char *suffix : {".kvtml", ".pau", ".xml"})
        if (path.endsWith(QLatin1String(suffix), Qt::CaseInsensitive))
            return true;
    qsizetype i = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (i < data.size() && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
        ++i;
    const QByteArray head = data.mid(i, 6);
    return head == "<?xml " || head == "<kvtml" || head == "<Lesso";
}

bool validSubjectName(const QString &name) { return !name.isEmpty() && !readsAsNumber(name); }

bool parseFach(const QString &text, qint32 *fach)
{
    const std::optional<qint32> parsed = parseCompartment(text);
    if (parsed)
        *fach = *parsed;
    return parsed.has_value();
}

// A time as the export writes it (ISO 8601, with or without its UTC offset); none
// for an empty or unreadable cell, and the card then counts from now.
std::optional<qint64> parseSeit(const QString &text)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return std::nullopt;
    const QDateTime at = QDateTime::fromString(t, Qt::ISODate);
    if (!at.isValid())
        return std::nullopt;
    return at.toSecsSinceEpoch();
}

// A card Anki has in review goes into the compartment whose interval is the smallest
// at least as long as Anki's, entered so that it falls due on Anki's due day. A
// deck becomes a subject of its own, so the default intervals apply.
void keepAnkiProgress(qint64 ivl, qint64 dueDay, BulkCard &card)
{
    qint32 fach = 1;
    while (Store::defaultInterval(fach) < ivl && Store::defaultInterval(fach + 1) > Store::defaultInterval(fach))
        ++fach;
    card.fach = fach;
    // Noon of the learning day: far from the day's start on either side.
    const QDate entered = QDate::fromJulianDay(dueDay - Store::defaultInterval(fach));
    card.seit = QDateTime(entered, QTime(12, 0)).toSecsSinceEpoch();
}

} // namespace

std::unique_ptr<ImportFile> ImportFile::open(const QString &path)
{
    std::unique_ptr<ImportFile> file(new ImportFile);
    file->m_path = path;
    if (!QFile::exists(path))
        throw TransferError(text::fileMissing(path));
    if (isZip(path)) {
        file->m_anki = std::make_unique<AnkiPackage>(path);
        file->m_kind = Kind::Anki;
        return file;
    }
    {
        QFile in(path);
        if (in.open(QIODevice::ReadOnly)) {
            const QByteArray head = in.peek(64);
            if (foreign::isGzip(head) || meantAsXml(head, path)) {
                ForeignKind kind;
                file->m_foreign = readForeign(in, path, &kind);
                file->m_kind = kind == ForeignKind::Kvtml ? Kind::Kvtml : Kind::Pauker;
                return file;
            }
        }
    }
    const QByteArray data = readWholeFile(path, kMaxTextFile);
    DecodedText decoded = decodeText(data, path);
    file->m_encoding = decoded.encoding;
    file->m_text = std::make_unique<DelimitedText>(std::move(decoded.text), path);
    return file;
}

ImportFile::~ImportFile() = default;

QChar ImportFile::separator() const { return m_text ? m_text->separator() : QChar(); }
bool ImportFile::separatorFromHeader() const { return m_text && m_text->separatorFromHeader(); }
void ImportFile::setSeparator(QChar separator)
{
    if (m_text)
        m_text->setSeparator(separator);
}
bool ImportFile::hasGebietColumn() const { return m_kind != Kind::Text || m_text->columns().gebiet >= 0; }
bool ImportFile::hasFachColumn() const { return m_text && m_text->columns().fach >= 0; }
QString ImportFile::collectionName() const { return m_anki ? m_anki->entryName() : QString(); }
QStringList ImportFile::decks() const { return m_anki ? m_anki->decks() : QStringList(); }

void ImportFile::restart()
{
    if (foreign())
        m_foreignNext = 0;
    else if (m_anki)
        m_anki->restart();
    else
        m_text->restart();
}

bool ImportFile::next(Item &item)
{
    item.refused = false;
    item.media = 0;
    item.unusedFields = 0;
    item.card = BulkCard();
    auto refuse = [&](LineProblem problem, const QString &value = QString()) {
        item.refused = true;
        item.refusal = RefusedLine{item.line, problem, value};
        return true;
    };
    if (foreign()) {
        const size_t refused = m_foreign.refused.size();
        if (m_foreignNext < refused) {
            item.refused = true;
            item.refusal = m_foreign.refused[m_foreignNext++];
            item.line = item.refusal.line;
            return true;
        }
        if (m_foreignNext - refused >= m_foreign.cards.size())
            return false;
        const ForeignCard &card = m_foreign.cards[m_foreignNext++ - refused];
        item.line = card.number;
        item.card =
            BulkCard{card.subject, card.frage, card.antwort, card.fach, card.seit, card.reverseFach, card.reverseSeit};
        if (!validSubjectName(card.subject)) {
            refuse(LineProblem::BadGebiet, card.subject);
            item.refusal.entry = true;
        }
        return true;
    }
    if (m_anki) {
        AnkiPackage::Note note;
        if (!m_anki->next(note))
            return false;
        item.line = note.number;
        item.media = note.media;
        item.card.subject = note.deck;
        if (note.fields < 2)
            return refuse(LineProblem::OneField);
        item.card.frage = note.frage;
        item.card.antwort = note.antwort;
        if (note.review)
            keepAnkiProgress(note.ivl, m_anki->collectionDay() + note.due, item.card);
    } else {
        DelimitedText::Record record;
        if (!m_text->next(record))
            return false;
        item.line = record.line;
        const TextColumns &c = m_text->columns();
        const int fields = int(record.fields.size());
        const int used =
            2 + (c.fach >= 0) + (c.gebiet >= 0) + (c.seit >= 0) + (c.fachUmgekehrt >= 0) + (c.seitUmgekehrt >= 0);
        item.unusedFields = std::max(0, fields - used);
        if (fields < 2 || fields <= std::max(c.frage, c.antwort))
            return refuse(LineProblem::OneField);
        item.card.frage = record.fields[c.frage];
        item.card.antwort = record.fields[c.antwort];
        if (m_text->html()) {
            item.card.frage = htmlToText(item.card.frage, &item.media);
            item.card.antwort = htmlToText(item.card.antwort, &item.media);
        }
        // An empty cell means compartment 1, as a card without a compartment has everywhere.
        const QString fach = c.fach >= 0 ? record.fields.value(c.fach) : QString();
        if (!fach.trimmed().isEmpty() && !parseFach(fach, &item.card.fach))
            return refuse(LineProblem::BadFach, fach);
        if (c.seit >= 0)
            item.card.seit = parseSeit(record.fields.value(c.seit));
        // The reverse place: an empty cell, a card without one.
        const QString reverse = c.fachUmgekehrt >= 0 ? record.fields.value(c.fachUmgekehrt) : QString();
        if (!reverse.trimmed().isEmpty()) {
            qint32 reverseFach = 1;
            if (!parseFach(reverse, &reverseFach))
                return refuse(LineProblem::BadFach, reverse);
            item.card.reverseFach = reverseFach;
            if (c.seitUmgekehrt >= 0)
                item.card.reverseSeit = parseSeit(record.fields.value(c.seitUmgekehrt));
        }
        if (c.gebiet >= 0) {
            item.card.subject = record.fields.value(c.gebiet);
            if (!validSubjectName(item.card.subject))
                return refuse(LineProblem::BadGebiet, item.card.subject);
        }
    }
    if (item.card.frage.isEmpty())
        return refuse(LineProblem::EmptyFrage);
    if (item.card.antwort.isEmpty())
        return refuse(LineProblem::EmptyAntwort);
    return true;
}

DeckPlan planDecks(Store &store, const QStringList &decks)
{
    DeckPlan plan;
    QStringList taken;
    auto free = [&](const QString &name) {
        if (!validSubjectName(name) || store.subjectExists(name))
            return false;
        for (const QString &t : taken)
            if (compareNames(t, name) == 0)
                return false;
        return true;
    };
    for (const QString &deck : decks) {
        const QString name = firstFreeName(deck.isEmpty() ? QStringLiteral("Stapel") : deck, free);
        taken << name;
        plan.subjectOf.insert(deck, name);
        if (name != deck)
            plan.renamed << qMakePair(deck, name);
    }
    return plan;
}

namespace {

// The subject a card goes to, or empty when the settings name none.
QString subjectFor(const ImportFile &file, const ImportFile::Item &item, const ImportSettings &settings,
                   const DeckPlan &plan)
{
    if (file.kind() == ImportFile::Kind::Anki)
        return plan.subjectOf.value(item.card.subject);
    if (file.foreign())
        return validSubjectName(settings.targetSubject) ? settings.targetSubject : item.card.subject;
    return file.hasGebietColumn() ? item.card.subject : settings.targetSubject;
}

} // namespace

namespace {

// The cards an import would leave out as duplicates: their texts stand already in
// their subject, or earlier in the file. Texts are compared by a 64-bit hash.
class DuplicateCounter {
public:
    explicit DuplicateCounter(Store &store) : m_store(store) {}

    bool isDuplicate(const BulkCard &card)
    {
        QSet<size_t> &seen = cardsOf(card.subject);
        const qsizetype before = seen.size();
        seen.insert(qHashMulti(0, card.frage, card.antwort));
        return seen.size() == before;
    }

private:
    QSet<size_t> &cardsOf(const QString &subject)
    {
        if (m_last && subject == m_lastName)
            return *m_last;
        // Subjects are one ignoring case, as the store names them.
        const std::optional<qint32> id = m_store.subjectId(subject);
        const QString key = id ? QString::number(*id) : QStringLiteral("new:") + subject.toCaseFolded();
        m_lastName = subject;
        auto it = m_subjects.find(key);
        if (it != m_subjects.end())
            return *(m_last = &it->second);
        QSet<size_t> &seen = *(m_last = &m_subjects[key]);
        for (qint64 offset = 0; id;) {
            const std::vector<CardListRow> page = m_store.cardPage(*id, offset, kPage, false);
            for (const CardListRow &row : page)
                seen.insert(qHashMulti(0, row.card.frage, row.card.antwort));
            if (int(page.size()) < kPage)
                break;
            offset += kPage;
        }
        return seen;
    }

    static constexpr int kPage = 20000;
    Store &m_store;
    // Node-based, so that m_last stays valid while subjects are added.
    std::unordered_map<QString, QSet<size_t>> m_subjects;
    QString m_lastName;
    QSet<size_t> *m_last = nullptr;
};

} // namespace

ImportPreview previewImport(ImportFile &file, Store &store, const ImportSettings &settings)
{
    ImportPreview preview;
    if (file.kind() == ImportFile::Kind::Anki)
        preview.decks = planDecks(store, file.decks());
    const bool toSubject =
        file.kind() == ImportFile::Kind::Anki || file.hasGebietColumn() || validSubjectName(settings.targetSubject);
    DuplicateCounter duplicates(store);
    file.restart();
    ImportFile::Item item;
    while (file.next(item)) {
        preview.mediaDropped += item.media;
        preview.unusedColumns = std::max(preview.unusedColumns, item.unusedFields);
        if (item.refused) {
            ++preview.refusedCount;
            if (preview.refused.size() < ImportPreview::kRefusalsListed)
                preview.refused << item.refusal;
            continue;
        }
        ++preview.cardCount;
        item.card.subject = subjectFor(file, item, settings, preview.decks);
        if (settings.skipDuplicates && toSubject && duplicates.isDuplicate(item.card))
            ++preview.duplicateCount;
        if (preview.cards.size() < ImportPreview::kCardsShown)
            preview.cards << item.card;
    }
    file.restart();
    return preview;
}

ImportSummary runImport(ImportFile &file, Store &store, const ImportSettings &settings,
                        const std::function<bool(qint64)> &keepGoing)
{
    ImportSummary summary;
    const bool anki = file.kind() == ImportFile::Kind::Anki;
    if (!anki && !file.hasGebietColumn() && !validSubjectName(settings.targetSubject))
        throw TransferError(settings.targetSubject.isEmpty() ? text::noSubjectGiven(file.path())
                                                             : text::invalidSubjectName(settings.targetSubject));
    DeckPlan plan;
    if (anki) {
        plan = planDecks(store, file.decks());
        summary.renamedDecks = plan.renamed;
    }
    // kvtml and Pauker: the duplicates are found beforehand, so that the report
    // counts the cards that kept their progress among those stored.
    std::vector<bool> duplicate;
    ImportFile::Item item;
    if (file.foreign() && settings.skipDuplicates) {
        DuplicateCounter duplicates(store);
        file.restart();
        while (file.next(item)) {
            if (item.refused)
                continue;
            item.card.subject = subjectFor(file, item, settings, plan);
            duplicate.push_back(duplicates.isDuplicate(item.card));
        }
    }
    file.restart();
    size_t read = 0;
    qint64 foundDuplicates = 0;
    auto next = [&](BulkCard &card) {
        while (file.next(item)) {
            summary.mediaDropped += item.media;
            if (item.refused) {
                ++summary.linesRefused;
                continue;
            }
            if (read < duplicate.size() && duplicate[read++]) {
                ++foundDuplicates;
                continue;
            }
            item.card.subject = subjectFor(file, item, settings, plan);
            card = std::move(item.card);
            if (file.foreign() && (card.fach > 1 || card.seit))
                ++summary.progressKept;
            return true;
        }
        return false;
    };
    BulkImportOptions options;
    options.skipDuplicates = settings.skipDuplicates;
    // Decks go to subjects of their own; a text file's subjects are joined.
    options.joinExistingSubjects = !anki;
    options.keepGoing = keepGoing;
    const BulkImportResult result = store.importCards(next, options);
    file.restart();
    if (result.cancelled) {
        ImportSummary cancelled;
        cancelled.cancelled = true;
        return cancelled;
    }
    summary.subjectsCreated = result.subjectsCreated;
    summary.cardsStored = result.cardsStored;
    summary.duplicatesSkipped = result.duplicatesSkipped + foundDuplicates;
    return summary;
}

} // namespace tarlivo::transfer
