#pragma once

#include <QDialog>

class QWebEngineView;

namespace Ui {
class TfrmSource;
}

// The source of a page in a read-only text window of its own. It has no links and no address,
// so nothing in it leads anywhere.
class TfrmSource : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmSource(QWidget *parent = nullptr);
    ~TfrmSource() override;

    Ui::TfrmSource *ui;

    void SetSource(const QString &title, const QString &address, const QString &source);
    QString Source() const;

    // Opens a source window for the view's page, filled once the engine hands the markup over.
    static TfrmSource *ShowFor(QWebEngineView *view, QWidget *owner);

signals:
    void SourceLoaded();
};
