#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace Ui {
class TfrmAddFavorite;
}

// The Add Favorite dialog: stores the active tab's page as a favorite file directly in the
// favorites folder, under a name the user checks. The only writer of favorite files.
class TfrmAddFavorite : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAddFavorite(QWidget *owner = nullptr);
    ~TfrmAddFavorite() override;

    // The address to store; set by the caller before the dialog is shown.
    QString FavoriteURL;

    Ui::TfrmAddFavorite *ui = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *edtName = nullptr;
    QPushButton *cbOk = nullptr;
    QPushButton *cbCancel = nullptr;

    void cbOkClick();
    // True only when the file was written.
    bool SaveFavorite();

    // Shown when the administrator forbids users' changes.
    static const QString ChangesForbidden;
    // The characters a new favorite's name may not hold, in the order the message lists them.
    static const QString ForbiddenCharacters;

protected:
    void keyPressEvent(QKeyEvent *event) override;
};
