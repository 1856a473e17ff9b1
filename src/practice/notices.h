#pragma once

#include "engine/practicerun.h"

#include <QString>

namespace tarlivo::windows {

// What a practice window says for a notice of its run: subject is the run's subject
// as handed over, typed the compartment list's text. Empty for a store failure, which
// the session reports.
QString noticeText(const engine::Notice &notice, const QString &subject, const QString &typed);

} // namespace tarlivo::windows
