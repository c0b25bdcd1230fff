#pragma once

#include "admin/unlockattempts.h"
#include "common/adminloginstore.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace Ui {
class TfrmAdminLogin;
}

// Proves that the person at the keyboard knows the administrator password, or, after
// "Forgot Password", the answers to both reminder questions.
class TfrmAdminLogin : public QDialog
{
    Q_OBJECT

public:
    // Wrong attempts are counted in `attempts`, by default the one shared by the whole process.
    explicit TfrmAdminLogin(QWidget *owner = nullptr, TUnlockAttempts *attempts = nullptr);
    ~TfrmAdminLogin() override;

    // The window heights as designed, title bar and borders included, and what those borders
    // took (the designed client area of 249 in a window of 282).
    static constexpr int CompactWindowHeight = 123;
    static constexpr int ExpandedWindowHeight = 282;
    static constexpr int DesignedFrameHeight = 33;

    // The login loaded when the dialog opened; every attempt is tested against it.
    recAdminLogin StoredLogin;

    // The form's controls, by their design names.
    QLabel *lblPassword = nullptr;
    QLineEdit *edtPassword = nullptr;
    QGroupBox *gbReminders = nullptr;
    QLabel *lblQuestion1 = nullptr;
    QLineEdit *edtQuestion1 = nullptr;
    QLabel *lblAnswer1 = nullptr;
    QLineEdit *edtAnswer1 = nullptr;
    QLabel *lblQuestion2 = nullptr;
    QLineEdit *edtQuestion2 = nullptr;
    QLabel *lblAnswer2 = nullptr;
    QLineEdit *edtAnswer2 = nullptr;
    QPushButton *cbForgotPass = nullptr;
    QPushButton *cbLogin = nullptr;
    QPushButton *cbCancel = nullptr;
    QLabel *lblWait = nullptr;

    void FormCreate();
    void cbForgotPassClick();
    void cbLoginClick();
    // Rests cbLogin while a wait after wrong attempts runs, and shows what is left of it. The
    // dialog's own timer calls this as the seconds pass.
    void UpdateWait();

private:
    void LoadReminderQuestions();
    void setWindowHeight(int windowHeight);

    Ui::TfrmAdminLogin *ui = nullptr;
    TUnlockAttempts *m_attempts = nullptr;
    QTimer *m_waitTimer = nullptr;
};

// Shows the login dialog over `owner`; true exactly when the login succeeded. Never raises.
bool AskAdminLogin(QWidget *owner);
