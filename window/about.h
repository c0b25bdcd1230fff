#pragma once

#include <QDialog>

namespace Ui {
class TfrmAbout;
}

// The About box: the logo, the version and a Close button.
class TfrmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAbout(QWidget *parent = nullptr);
    ~TfrmAbout() override;

    Ui::TfrmAbout *ui;

    // The program's logo, 249 x 73 with a transparent background.
    static QPixmap Logo();
};
