#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace Ui {
class TfrmPopups;
}

// The Allowed Sites dialog: lists the sites that may open popups, adds one by address,
// removes one or all. Every change goes to the store at once; the main window reloads its
// blocking list when the dialog has closed.
class TfrmPopups : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmPopups(QWidget *owner = nullptr);
    ~TfrmPopups() override;

    Ui::TfrmPopups *ui = nullptr;
    QLineEdit *edtWebsite = nullptr;
    QPushButton *cbAllow = nullptr;
    QTableWidget *gridSites = nullptr;
    QPushButton *cbRemove = nullptr;
    QPushButton *cbRemoveAll = nullptr;
    QPushButton *cbClose = nullptr;

    void FormCreate();
    void LoadSites();
    // The lines below the list naming the sites the administrator allows for everyone, which
    // cannot be removed here, and saying when the administrator forbids changes; hidden when
    // there is nothing to say.
    void ShowMachineSites(const QStringList &sites, bool changesAllowed);
    // False when the administrator forbids users' changes: Allow, Remove and Remove All are
    // off, and their handlers do nothing.
    bool ChangesAllowed() const { return m_changesAllowed; }
    void edtWebsiteChange();
    // Enter runs Allow whether or not the button is enabled.
    void edtWebsiteKeyPress(int key);
    void cbAllowClick();
    void cbRemoveClick();
    void cbRemoveAllClick();

    // The shown site of a data row ("" for the empty row) and the stored value name it came
    // from, which may differ by blanks and letter case.
    QString SiteCell(int row) const;
    QString StoredName(int row) const;
    // The data row the user selected, or -1.
    int SelectedRow() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool m_changesAllowed = true;
};
