#pragma once

#include <QWebEngineUrlSchemeHandler>

class QWebEngineProfile;

// Serves the program's own pages (start page, first-run pages) offline under "quelvard://".
class TQuelvardSchemeHandler : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT

public:
    using QWebEngineUrlSchemeHandler::QWebEngineUrlSchemeHandler;
    void requestStarted(QWebEngineUrlRequestJob *job) override;

    // Must run before the application object exists.
    static void RegisterScheme();
    static void Install(QWebEngineProfile *profile);
};
