// kvtmlcheck FILE: opens FILE with KEduVocDocument and prints, as one JSON object,
// the identifiers, every lesson (nested ones "Eltern::Kind") and every entry with its
// lesson, the first two translations' texts, the second's grade and practice date
// (seconds since 1970, or null), and the files of both translations' pictures and
// sounds as the library resolves them. Exit 1 when the library cannot open the file.

#include <keduvocdocument.h>
#include <keduvocexpression.h>
#include <keduvocidentifier.h>
#include <keduvoclesson.h>
#include <keduvoctranslation.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

#include <cstdio>

namespace {

void walk(KEduVocContainer *container, const QString &prefix, QJsonArray &lessons, QJsonArray &entries)
{
    for (KEduVocContainer *child : container->childContainers()) {
        const QString name = prefix.isEmpty() ? child->name() : prefix + QStringLiteral("::") + child->name();
        lessons.append(name);
        for (KEduVocExpression *entry : child->entries(KEduVocContainer::NotRecursive)) {
            KEduVocTranslation *answer = entry->translation(1);
            const QDateTime date = answer ? answer->practiceDate() : QDateTime();
            QJsonArray media; // question's picture and sound, answer's picture and sound
            for (KEduVocTranslation *side : {entry->translation(0), answer})
                for (const QUrl &url : {side ? side->imageUrl() : QUrl(), side ? side->soundUrl() : QUrl()})
                    media.append(url.isLocalFile() ? url.toLocalFile() : url.toString());
            entries.append(QJsonObject{
                {QStringLiteral("lesson"), name},
                {QStringLiteral("question"), entry->translation(0) ? entry->translation(0)->text() : QString()},
                {QStringLiteral("answer"), answer ? answer->text() : QString()},
                {QStringLiteral("grade"), answer ? int(answer->grade()) : -1},
                {QStringLiteral("date"), date.isValid() ? QJsonValue(double(date.toSecsSinceEpoch())) : QJsonValue()},
                {QStringLiteral("media"), media},
            });
        }
        walk(child, name, lessons, entries);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvtmlcheck FILE\n");
        return 2;
    }
    KEduVocDocument document;
    const KEduVocDocument::ErrorCode rc =
        document.open(QUrl::fromLocalFile(QString::fromLocal8Bit(argv[1])), KEduVocDocument::FileOpenReadOnly);
    if (rc != KEduVocDocument::NoError) {
        std::fprintf(stderr, "cannot open: %s\n", qPrintable(KEduVocDocument::errorDescription(rc)));
        return 1;
    }
    QJsonArray identifiers, lessons, entries;
    for (int i = 0; i < document.identifierCount(); ++i)
        identifiers.append(document.identifier(i).name());
    walk(document.lesson(), QString(), lessons, entries);
    const QJsonObject out{{QStringLiteral("identifiers"), identifiers},
                          {QStringLiteral("lessons"), lessons},
                          {QStringLiteral("entries"), entries}};
    std::fputs(QJsonDocument(out).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}
