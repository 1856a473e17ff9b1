#include "fuzztargets.h"

#include "ankifiles.h"
#include "transfer/anki.h"
#include "transfer/delimited.h"
#include "transfer/html.h"
#include "transfer/textdecode.h"
#include "transfer/transfererror.h"

#include <QDir>
#include <QTemporaryFile>

namespace fuzz {

using namespace tarlivo::transfer;

void text(const uint8_t *data, size_t size)
{
    try {
        DecodedText decoded = decodeText(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)), "fuzz");
        DelimitedText reader(std::move(decoded.text), "fuzz");
        DelimitedText::Record record;
        for (const QChar s : {QLatin1Char(','), QLatin1Char('\t')}) {
            reader.setSeparator(s);
            while (reader.next(record)) {
            }
        }
    } catch (const TransferError &) {
    }
}

void html(const uint8_t *data, size_t size)
{
    int media = 0;
    const QString out = htmlToText(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)), &media);
    // Plain text never grows past what it came from, but for entities.
    if (out.size() > qsizetype(size) * 2 + 2 || media < 0)
        __builtin_trap();
}

// The first byte says what the rest is: 'C' a collection database and 'Z' a
// zstd-packed one, each put into a zip here, so that mutations reach SQLite and
// zstd rather than stopping at the zip's checksum; anything else a whole package.
void anki(const uint8_t *data, size_t size)
{
    QTemporaryFile file(QDir::temp().filePath("tarlivo-fuzz-XXXXXX.apkg"));
    if (!file.open())
        return;
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    if (size > 0 && (data[0] == 'C' || data[0] == 'Z')) {
        file.close();
        const char *entry = data[0] == 'C' ? "collection.anki21" : "collection.anki21b";
        if (!ankifiles::zipFile(file.fileName(), {{QString::fromLatin1(entry), bytes.mid(1)}}))
            return;
    } else if (file.write(bytes) != bytes.size() || !file.flush()) {
        return;
    }
    try {
        AnkiPackage package(file.fileName());
        AnkiPackage::Note note;
        while (package.next(note)) {
        }
    } catch (const TransferError &) {
    }
}

QList<QByteArray> textSeeds()
{
    return {"Frage\tAntwort\nf2\ta2\n",
            "#separator:Semicolon\n#html:true\n#columns:Frage;Antwort;Fach;Gebiet\n\"a;\"\"b\"\"\";c<br>d;2;G\n",
            "\xEF\xBB\xBF"
            "a,b\r\n\"x\r\ny\",z\r\n",
            QByteArray("\xFF\xFE"
                       "a\0\t\0b\0\n\0",
                       10),
            "\x80\t\xE4\n#deck column:3\n"};
}

QList<QByteArray> htmlSeeds()
{
    return {"<div>a<br>b</div><p>c&amp;d&#x1F600;&#228;&nbsp;</p>", "[sound:x.mp3]<img src=\"a.png\">t&lt;",
            "<b>unclosed <i", "&#0;&#xD800;&bogus;&;"};
}

QList<QByteArray> ankiSeeds()
{
    using namespace ankifiles;
    const QList<Note> notes = {{"A::B", {"<b>f</b>", "a[sound:s.mp3]"}}, {"C", {"g", "b", "c"}}, {"C", {"x"}}};
    const QByteArray collection21 = collection(Layout::Anki21, notes);
    QList<QByteArray> seeds = {"C" + collection21, "Z" + zstd(collection(Layout::Anki21b, notes))};
    QTemporaryFile file;
    if (file.open()) {
        file.close();
        if (package(file.fileName(), Layout::Anki2, notes)) {
            QFile in(file.fileName());
            if (in.open(QIODevice::ReadOnly))
                seeds << in.readAll();
        }
    }
    return seeds;
}

} // namespace fuzz
