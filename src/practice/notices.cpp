#include "practice/notices.h"

#include "ui/messages.h"

using namespace tarlivo::store;
using namespace tarlivo::legacy;
using namespace tarlivo::ui;

namespace tarlivo::windows {

QString noticeText(const engine::Notice &notice, const QString &subject, const QString &typed)
{
    using Kind = engine::Notice::Kind;
    switch (notice.kind) {
    case Kind::AllDuePractised:
    case Kind::AllPractised: // both: every place asked for is practised
        return text::allDuePractised();
    case Kind::CompartmentEmpty:
        return text::compartmentEmpty(notice.number);
    case Kind::SubjectWithoutCards:
        return text::subjectWithoutCards(subject);
    case Kind::UnknownSubject:
        return text::unknownSubject(subject);
    case Kind::CardMissing:
        return text::cardMissing(notice.number);
    case Kind::CardGone:
        return text::cardGone();
    case Kind::NoCardOnDisplay:
        return text::noCardOnDisplay();
    case Kind::NotACompartment:
        return text::notACompartment(typed);
    case Kind::CompartmentLimit:
        return text::compartmentLimit();
    case Kind::QueueLimit:
        return text::queueLimit();
    case Kind::StoreFailed:
        break;
    }
    return QString();
}

} // namespace tarlivo::windows
