#include "main/filedialogguard.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QPointer>

namespace {

class TFileDialogGuard : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Before the dialog is first painted, so no rename or delete is ever offered.
        if (event->type() == QEvent::Show) {
            if (auto *dialog = qobject_cast<QFileDialog *>(watched))
                dialog->setOption(QFileDialog::ReadOnly, true);
        }
        return false;
    }
};

} // namespace

namespace FileDialogGuard {

void Install()
{
    static QPointer<QCoreApplication> guarded;
    QCoreApplication *application = QCoreApplication::instance();
    if (!application || guarded == application)
        return;
    guarded = application;
    // A desktop's own dialog cannot be held to read-only; Qt's can.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    application->installEventFilter(new TFileDialogGuard(application));
}

} // namespace FileDialogGuard
