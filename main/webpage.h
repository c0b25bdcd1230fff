#pragma once

#include <QWebEnginePage>

// A page that answers the engine's own questions without asking the user: the view is silent
// apart from the page's own alert, confirm and prompt.
class TWebPage : public QWebEnginePage
{
    Q_OBJECT

public:
    explicit TWebPage(QObject *parent);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
};
