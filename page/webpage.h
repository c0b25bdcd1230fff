#pragma once

#include "page/dialogloop.h"
#include "widgets/dialogseam.h"

#include <QWebEnginePage>

// A page that answers the engine's own questions without asking the user, apart from the
// page's own alert, confirm and prompt (which a page repeating them cannot trap the person in)
// and the devices it asks for (TPermissionBar).
class TWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    explicit TWebPage(QObject *parent);

    // True once a document of the current page (the page itself or one of its frames) is a
    // PDF, until the page navigates. The engine's PDF viewer ends the whole program when a
    // link in it is clicked with a modifier or the middle button, so the view takes such
    // clicks as plain ones while this holds.
    bool ShowsPdf() const { return m_showsPdf; }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                          const QString &defaultValue, QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override;

private:
    // Asks through the dialog seam, unless the person stopped this page's dialogs: then the
    // answer is Cancel at once.
    bool pageDialog(const QUrl &origin, TPageDialog &dialog);

    TDialogLoop m_dialogLoop;
    bool m_showsPdf = false;
};
