#include "shell/application.h"
#include "shell/dialogs.h"
#include "shell/forms.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tarlivo"));
    // The program ends by "&Ende" or by closing the start window or the backdrop.
    app.setQuitOnLastWindowClosed(false);
    tarlivo::ui::installGermanTranslation(app);

    tarlivo::ui::QtDialogs dialogs;
    tarlivo::ui::Forms forms(dialogs, {tarlivo::ui::databasePath(QCoreApplication::applicationDirPath()), {}, [] {
                                           QCoreApplication::quit();
                                       }});
    forms.start();
    return app.exec();
}
