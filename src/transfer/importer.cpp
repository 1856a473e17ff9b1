#include "transfer/importer.h"

#include "store/collation.h"
#include "store/names.h"
#include "store/numbertest.h"
#include "transfer/anki.h"
#include "transfer/delimited.h"
#include "transfer/foreignfile.h"
#include "transfer/html.h"
#include "transfer/readahead.h"
#include "transfer/textdecode.h"
#include "transfer/transfererror.h"
#include "transfer/transfertexts.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <limits>
#include <unordered_map>

using namespace tarlivo::store;

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

bool lacksASide(const RefusedLine &r)
{
    return r.problem == LineProblem::OneField || r.problem == LineProblem::EmptyQuestion
           || r.problem == LineProblem::EmptyAnswer;
}

bool readCompartmentField(const QString &text, qint32 *compartment)
{
    // Plain digits, as nearly every file has them, without the general rules' pattern.
    if (text.size() <= 9 && !text.isEmpty() && text[0] != u'0') {
        qint32 value = 0;
        bool digits = true;
        for (const QChar c : text) {
            digits = digits && c >= u'0' && c <= u'9';
            value = value * 10 + (c.unicode() - u'0');
        }
        if (digits) {
            *compartment = value;
            return true;
        }
    }
    const std::optional<qint32> parsed = parseCompartment(text);
    if (parsed)
        *compartment = *parsed;
    return parsed.has_value();
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 daysFromCivil(qint64 y, qint64 m, qint64 d)
{
    y -= m <= 2;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const qint64 yoe = y - era * 400;
    const qint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const qint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The export's own form, "2026-12-08T09:15:00+01:00" (or "Z"), read without
// QDateTime, which would cost more than the rest of the line; none for any other form.
std::optional<qint64> parseExportedEnteredAt(QStringView t)
{
    if (t.size() != 25 && t.size() != 20)
        return std::nullopt;
    auto number = [&t](qsizetype from, qsizetype length) -> int {
        int value = 0;
        for (qsizetype i = from; i < from + length; ++i) {
            const char16_t c = t[i].unicode();
            if (c < u'0' || c > u'9')
                return -1;
            value = value * 10 + (c - u'0');
        }
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (t[4] != u'-' || t[7] != u'-' || t[10] != u'T' || t[13] != u':' || t[16] != u':' || year < 0 || month < 1
        || month > 12 || day < 1 || day > QDate(year, month, 1).daysInMonth() || hour < 0 || hour > 23 || minute < 0
        || minute > 59 || second < 0 || second > 59)
        return std::nullopt;
    qint64 offset = 0;
    if (t.size() == 20) {
        if (t[19] != u'Z')
            return std::nullopt;
    } else {
        const int offsetHours = number(20, 2), offsetMinutes = number(23, 2);
        if ((t[19] != u'+' && t[19] != u'-') || t[22] != u':' || offsetHours < 0 || offsetHours > 14
            || offsetMinutes < 0 || offsetMinutes > 59)
            return std::nullopt;
        offset = (t[19] == u'-' ? -1 : 1) * (offsetHours * 3600 + offsetMinutes * 60);
    }
    return daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second - offset;
}

// A time as the export writes it (ISO 8601, with or without its UTC offset); none
// for an empty or unreadable cell, and the card then counts from now.
std::optional<qint64> parseEnteredAt(const QString &text)
{
    if (const std::optional<qint64> exported = parseExportedEnteredAt(text))
        return exported;
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
    qint32 compartment = 1;
    while (Store::defaultInterval(compartment) < ivl
           && Store::defaultInterval(compartment + 1) > Store::defaultInterval(compartment))
        ++compartment;
    card.compartment = compartment;
    // Noon of the learning day: far from the day's start on either side.
    const QDate entered = QDate::fromJulianDay(dueDay - Store::defaultInterval(compartment));
    card.enteredAt = QDateTime(entered, QTime(12, 0)).toSecsSinceEpoch();
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
                file->m_foreign = std::make_unique<ForeignFile>(path);
                file->m_kind = file->m_foreign->kind() == ForeignKind::Kvtml ? Kind::Kvtml : Kind::Pauker;
                return file;
            }
        }
    }
    auto text = std::make_unique<TextFile>(path);
    file->m_encoding = text->encoding();
    file->m_text = std::make_unique<DelimitedText>(std::move(text), path);
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
bool ImportFile::hasSubjectColumn() const { return m_kind != Kind::Text || m_text->columns().subject >= 0; }
QString ImportFile::collectionName() const { return m_anki ? m_anki->entryName() : QString(); }
QStringList ImportFile::decks() const { return m_anki ? m_anki->decks() : QStringList(); }

void ImportFile::setOneSubject(bool one)
{
    m_oneSubject = one;
    if (m_foreign)
        m_foreign->setSubjectsGiven(one);
}

void ImportFile::restart()
{
    if (foreign())
        m_foreign->restart();
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
        if (!m_foreign->next(m_foreignCard, item.refusal, item.refused))
            return false;
        if (item.refused) {
            item.line = item.refusal.line;
            return true;
        }
        ForeignCard &card = m_foreignCard;
        item.line = card.number;
        item.card =
            BulkCard{std::move(card.subject), std::move(card.question), std::move(card.answer),  card.compartment,
                     card.enteredAt,          std::move(card.media),    card.reverseCompartment, card.reverseEnteredAt};
        item.media = card.mediaMissing;
        // A lesson's name that is no subject's matters only where the lessons are the subjects.
        if (!m_oneSubject && !validSubjectName(item.card.subject)) {
            refuse(LineProblem::BadSubject, item.card.subject);
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
        item.card.question = note.question;
        item.card.answer = note.answer;
        item.card.media = std::move(note.files);
        if (note.review)
            keepAnkiProgress(note.ivl, m_anki->collectionDay() + note.due, item.card);
    } else {
        // One record for all lines: its list keeps its room from line to line.
        DelimitedText::Record &record = m_record;
        if (!m_text->next(record))
            return false;
        item.line = record.line;
        const TextColumns &c = m_text->columns();
        const int fields = int(record.fields.size());
        const int used = 2 + (c.compartment >= 0) + (c.subject >= 0) + (c.enteredAt >= 0) + (c.reverseCompartment >= 0)
                         + (c.reverseEnteredAt >= 0);
        item.unusedFields = std::max(0, fields - used);
        if (fields < 2 || fields <= std::max(c.question, c.answer))
            return refuse(LineProblem::OneField);
        item.card.question = record.fields[c.question];
        item.card.answer = record.fields[c.answer];
        if (m_text->html()) {
            item.card.question = htmlToText(item.card.question, &item.media);
            item.card.answer = htmlToText(item.card.answer, &item.media);
        }
        // An empty cell means compartment 1, as a card without a compartment has everywhere.
        const QString compartment = c.compartment >= 0 ? record.fields.value(c.compartment) : QString();
        if (!compartment.trimmed().isEmpty() && !readCompartmentField(compartment, &item.card.compartment))
            return refuse(LineProblem::BadCompartment, compartment);
        if (c.enteredAt >= 0)
            item.card.enteredAt = parseEnteredAt(record.fields.value(c.enteredAt));
        // The reverse place: an empty cell, a card without one.
        const QString reverse = c.reverseCompartment >= 0 ? record.fields.value(c.reverseCompartment) : QString();
        if (!reverse.trimmed().isEmpty()) {
            qint32 reverseCompartment = 1;
            if (!readCompartmentField(reverse, &reverseCompartment))
                return refuse(LineProblem::BadCompartment, reverse);
            item.card.reverseCompartment = reverseCompartment;
            if (c.reverseEnteredAt >= 0)
                item.card.reverseEnteredAt = parseEnteredAt(record.fields.value(c.reverseEnteredAt));
        }
        if (c.subject >= 0) {
            item.card.subject = record.fields.value(c.subject);
            if (item.card.subject != m_lastValidSubject) {
                if (!validSubjectName(item.card.subject))
                    return refuse(LineProblem::BadSubject, item.card.subject);
                m_lastValidSubject = item.card.subject;
            }
        }
    }
    // A side showing a picture or playing a sound is not empty.
    const auto hasMedia = [&](CardSide side) {
        return std::any_of(item.card.media.begin(), item.card.media.end(),
                           [side](const MediaInput &m) { return m.side == side; });
    };
    if (item.card.question.isEmpty() && !hasMedia(CardSide::Question))
        return refuse(LineProblem::EmptyQuestion);
    if (item.card.answer.isEmpty() && !hasMedia(CardSide::Answer))
        return refuse(LineProblem::EmptyAnswer);
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
    // A subject given takes all cards of a package, kvtml or Pauker file instead of its decks or lessons.
    if (file.hasSubjectColumn() && file.kind() != ImportFile::Kind::Text && validSubjectName(settings.targetSubject))
        return settings.targetSubject;
    if (file.kind() == ImportFile::Kind::Anki)
        return plan.subjectOf.value(item.card.subject);
    if (file.foreign())
        return item.card.subject;
    return file.hasSubjectColumn() ? item.card.subject : settings.targetSubject;
}

} // namespace

namespace {

// The cards an import would leave out as duplicates: their texts stand already in
// their subject, or earlier in the file. Texts are compared by a 64-bit hash; a large
// subject is asked card by card through the store's text index where there is one.
class DuplicateCounter {
public:
    explicit DuplicateCounter(Store &store) : m_store(store) {}

    bool isDuplicate(const BulkCard &card)
    {
        Known &known = cardsOf(card.subject);
        const qsizetype before = known.seen.size();
        known.seen.insert(qHashMulti(0, card.question, card.answer));
        return known.seen.size() == before
               || (known.asked && m_store.holdsCard(*known.asked, card.question, card.answer));
    }

private:
    struct Known {
        QSet<size_t> seen;
        std::optional<qint32> asked; // the subject asked through the index
    };

    Known &cardsOf(const QString &subject)
    {
        if (m_last && subject == m_lastName)
            return *m_last;
        m_lastName = subject;
        // Cards of a kvtml or Pauker file come in queue order, their subjects mixed:
        // a name seen before is not looked up again.
        if (Known *known = m_byName.value(subject))
            return *(m_last = known);
        // Subjects are one ignoring case, as the store names them.
        const std::optional<qint32> id = m_store.subjectId(subject);
        const QString key = id ? QString::number(*id) : QStringLiteral("new:") + subject.toCaseFolded();
        auto it = m_subjects.find(key);
        if (it != m_subjects.end())
            return *(m_byName[subject] = m_last = &it->second);
        Known &known = *(m_byName[subject] = m_last = &m_subjects[key]);
        if (id && m_store.cardCount(*id) > kPage && m_store.hasTextIndex()) {
            known.asked = id;
            return known;
        }
        for (qint64 offset = 0; id;) {
            const std::vector<CardListRow> page = m_store.cardPage(*id, offset, kPage, false);
            for (const CardListRow &row : page)
                known.seen.insert(qHashMulti(0, row.card.question, row.card.answer));
            if (int(page.size()) < kPage)
                break;
            offset += kPage;
        }
        return known;
    }

    static constexpr int kPage = 20000;
    Store &m_store;
    // Node-based, so that m_last stays valid while subjects are added.
    std::unordered_map<QString, Known> m_subjects;
    QHash<QString, Known *> m_byName; // as spelt in the file
    QString m_lastName;
    Known *m_last = nullptr;
};

} // namespace

ImportPreview previewImport(ImportFile &file, Store &store, const ImportSettings &settings)
{
    ImportPreview preview;
    const bool oneSubject = validSubjectName(settings.targetSubject);
    if (file.kind() == ImportFile::Kind::Anki && !oneSubject)
        preview.decks = planDecks(store, file.decks());
    const bool toSubject =
        file.kind() == ImportFile::Kind::Anki || file.hasSubjectColumn() || validSubjectName(settings.targetSubject);
    DuplicateCounter duplicates(store);
    file.setOneSubject(oneSubject);
    file.restart();
    ImportFile::Item item;
    const bool head = file.kind() == ImportFile::Kind::Text;
    qint64 read = 0;
    while (file.next(item)) {
        if (head && ++read > ImportPreview::kHeadLines) {
            preview.whole = false;
            break;
        }
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
        if (settings.skipDuplicates && toSubject && item.card.media.empty() && duplicates.isDuplicate(item.card))
            ++preview.duplicateCount;
        if (preview.cards.size() < ImportPreview::kCardsShown) {
            item.card.media.clear(); // the preview shows texts; the bytes need not stay
            preview.cards << item.card;
        }
    }
    file.restart();
    // A package, kvtml or Pauker file read whole whose entries each lack a side holds
    // no cards at all; a text file may read otherwise with another separator.
    if (!head && preview.cardCount == 0 && preview.refusedCount > 0
        && std::all_of(preview.refused.begin(), preview.refused.end(), lacksASide)
        && preview.refused.size() == preview.refusedCount)
        throw TransferError(text::oneSidedOnly(file.path(), preview.refusedCount, true));
    return preview;
}

ImportSummary runImport(ImportFile &file, Store &store, const ImportSettings &settings,
                        const std::function<bool(qint64)> &keepGoing)
{
    ImportSummary summary;
    const bool anki = file.kind() == ImportFile::Kind::Anki;
    if (!anki && !file.hasSubjectColumn() && !validSubjectName(settings.targetSubject))
        throw TransferError(settings.targetSubject.isEmpty() ? text::noSubjectGiven(file.path())
                                                             : text::invalidSubjectName(settings.targetSubject));
    // Decks go to subjects of their own, unless one is given; a text file's subjects are joined.
    const bool ownDecks = anki && !validSubjectName(settings.targetSubject);
    DeckPlan plan;
    if (ownDecks) {
        plan = planDecks(store, file.decks());
        summary.renamedDecks = plan.renamed;
    }
    summary.entries = file.foreign();
    file.setOneSubject(validSubjectName(settings.targetSubject));
    file.restart();
    ImportFile::Item item;
    qint64 read = 0, oneSided = 0;
    auto next = [&](BulkCard &card) {
        while (file.next(item)) {
            summary.mediaDropped += item.media;
            if (item.refused) {
                ++summary.linesRefused;
                oneSided += lacksASide(item.refusal);
                continue;
            }
            ++read;
            item.card.subject = subjectFor(file, item, settings, plan);
            card = std::move(item.card);
            return true;
        }
        // Nothing but one side each: a word list, not cards; the store takes nothing.
        if (read == 0 && oneSided > 0 && oneSided == summary.linesRefused)
            throw TransferError(text::oneSidedOnly(file.path(), oneSided, file.kind() != ImportFile::Kind::Text));
        return false;
    };
    BulkImportOptions options;
    options.skipDuplicates = settings.skipDuplicates;
    options.joinExistingSubjects = !ownDecks;
    options.keepGoing = keepGoing;
    options.queueByTime = file.foreign();
    BulkImportResult result;
    {
        ReadAhead ahead(next);
        result = store.importCards([&ahead](BulkCard &card) { return ahead.next(card); }, options);
    }
    file.restart();
    if (result.cancelled) {
        ImportSummary cancelled;
        cancelled.cancelled = true;
        return cancelled;
    }
    summary.subjectsCreated = result.subjectsCreated;
    summary.cardsStored = result.cardsStored;
    summary.duplicatesSkipped = result.duplicatesSkipped;
    // A text file's compartments are the user's own columns, not progress kept.
    if (file.foreign())
        summary.progressKept = result.progressKept;
    return summary;
}

} // namespace tarlivo::transfer
