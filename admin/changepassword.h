#pragma once

#include <QDialog>

class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Ui {
class TfrmChangePassword;
}

// Sets a new administrator password and, optionally, two reminder questions with answers.
// The ordinary form asks for the current password; the first-run form, used when no login is
// stored yet, has neither that row nor a Cancel button.
class TfrmChangePassword : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmChangePassword(QWidget *owner = nullptr);
    ~TfrmChangePassword() override;

    static const QString FirstRunCaption;
    static const QString SaveFailedMessage;

    // The form's controls, by their design names.
    QLabel *lblCurrentPassword = nullptr;
    QLineEdit *editAdminPassword = nullptr;
    QLabel *lblPassPass = nullptr;
    QLineEdit *edtPassword = nullptr;
    QLabel *lblPassConfirm = nullptr;
    QLineEdit *edtConfirm = nullptr;
    QLabel *lblPassCase = nullptr;
    QGroupBox *gbReminders = nullptr;
    QLabel *lblPassQ1 = nullptr;
    QLineEdit *edtQuestion1 = nullptr;
    QLabel *lblPassA1 = nullptr;
    QLineEdit *edtAnswer1 = nullptr;
    QLabel *lblPassQ2 = nullptr;
    QLineEdit *edtQuestion2 = nullptr;
    QLabel *lblPassA2 = nullptr;
    QLineEdit *edtAnswer2 = nullptr;
    QPushButton *cbSave = nullptr;
    QPushButton *cbCancel = nullptr;

    void FormCreate();
    void cbSaveClick();
    // Relabels and rearranges the dialog into its first-run form under `caption`.
    void ApplyFirstRunForm(const QString &caption);

protected:
    // Escape does not close this dialog: only Save or Cancel do.
    void keyPressEvent(QKeyEvent *event) override;

private:
    Ui::TfrmChangePassword *ui = nullptr;
};
