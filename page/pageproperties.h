#pragma once

#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QUrl>
#include <functional>

class QWebEnginePage;
class QWebEngineView;

namespace Ui {
class TfrmPageProperties;
}

// What the engine and the document report about a page. Empty or negative means not reported.
struct TPageInfo
{
    QString Title;
    QUrl Address;
    QString ContentType;
    qint64 Size = -1;
    QDateTime LastModified;
};

// The lines the Properties dialog shows for a page.
struct TPagePropertiesText
{
    QString Title;
    QString Address;
    QString Protocol;
    QString Type;
    QString Connection;
    QString Size;
    QString Modified;
};

// "Properties" of the page: title, address, protocol, type, encryption, size, last change.
class TfrmPageProperties : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmPageProperties(const TPageInfo &info, QWidget *parent = nullptr);
    ~TfrmPageProperties() override;

    Ui::TfrmPageProperties *ui;

    static TPagePropertiesText Describe(const TPageInfo &info);
    static QString ProtocolName(const QString &scheme);
    static QString TypeName(const QString &contentType);
    static QString SizeText(qint64 size);

    // Reads what the document reports (asynchronously) and calls `done` with it; `done` is not
    // called when the page goes away first.
    static void Collect(QWebEnginePage *page, const std::function<void(const TPageInfo &)> &done);
    // Collects the view's page and then runs the dialog, modal, through the dialog seam.
    static void ShowFor(QWebEngineView *view, QWidget *parent);
};
