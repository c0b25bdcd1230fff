#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>

class QWebEnginePage;
class QWebEngineView;

namespace Ui {
class TfrmFind;
}

// Find on this page: modeless over the main window, it always searches the page that is active
// when "Find Next" is pressed.
class TfrmFind : public QDialog
{
    Q_OBJECT

public:
    // Gives the view of the active tab, or nullptr when there is none.
    using PageProvider = std::function<QWebEngineView *()>;

    TfrmFind(PageProvider activePage, QWidget *parent = nullptr);
    ~TfrmFind() override;

    Ui::TfrmFind *ui;

    // Shows the one find dialog of `owner`, creating it on first use, and puts the focus in
    // "Find what".
    static TfrmFind *ShowFor(QWidget *owner, PageProvider activePage);

    void FindNext();
    // The status line's text for a finished search.
    static QString ResultText(const QString &text, int matches, int activeMatch);

signals:
    // A search ended with `matches` found, the highlighted one being `activeMatch` (1-based).
    void SearchFinished(int matches, int activeMatch);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    void clearHighlight();
    void updateButtons();

    PageProvider m_activePage;
    QPointer<QWebEnginePage> m_searchedPage;
};
