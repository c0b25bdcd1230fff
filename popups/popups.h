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
    // The line below the list telling how many sites the administrator allows for everyone;
    // hidden when none.
    void ShowMachineSites(qsizetype count);
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
};
