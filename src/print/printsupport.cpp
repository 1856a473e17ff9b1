#include "print/printsupport.h"

#include "media/plugins.h"

#include <memory>

namespace tarlivo::print {

PrintSupport *printSupport(QString *error, const QStringList &folders)
{
    static std::unique_ptr<PrintSupport> support;
    if (!support) {
        const auto make = reinterpret_cast<TarlivoMakePrintSupport>(
            media::pluginSymbol(QStringLiteral("tarlivo_printer"), "tarlivo_make_print_support", error, folders));
        if (make)
            support.reset(make());
    }
    return support.get();
}

} // namespace tarlivo::print
