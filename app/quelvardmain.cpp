#include "app/quelvardmain.h"

#include "app/browserprofile.h"
#include "app/browsersession.h"
#include "app/schemehandler.h"
#include "window/mainwindow.h"

#include <QApplication>

namespace {

// A remote-debugging port would let anyone drive the pages of a locked browser, and rules of
// the engine's own for names or proxies would send the filtered hosts somewhere else.
void CloseDebuggingDoors()
{
    qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
    const QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    for (const char *door : {"remote-debugging", "host-resolver-rules", "host-rules", "proxy"}) {
        if (flags.contains(door)) {
            qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
            break;
        }
    }
}

} // namespace

int QuelvardMain()
{
    CloseDebuggingDoors();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    TQuelvardSchemeHandler::RegisterScheme();

    // Only the program's name reaches Qt and the engine: no switch can be passed in.
    char programName[] = "quelvard";
    char *arguments[] = {programName, nullptr};
    int argumentCount = 1;
    QApplication application(argumentCount, arguments);
    QApplication::setApplicationName(QStringLiteral("Quelvard"));
    QApplication::setDesktopFileName(QStringLiteral("quelvard"));
    // The machine settings are read here, once, before the first page exists; the run's session
    // outlives its window.
    BrowserProfile::Current();
    TBrowserSession session;

    TfrmQuelvardBrowser frmQuelvardBrowser(nullptr, &session);
    frmQuelvardBrowser.show();
    return application.exec();
}
