#include "window/filedialogguard.h"

#include "window/inputfilter.h"

#include <QApplication>
#include <QEvent>
#include <QFileDialog>
#include <QPointer>

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
    InputFilter::Join(application, TInputStage::FileDialogs, [](QObject *watched, QEvent *event) {
        // Before the dialog is first painted, so no rename or delete is ever offered.
        if (event->type() == QEvent::Show) {
            if (auto *dialog = qobject_cast<QFileDialog *>(watched))
                dialog->setOption(QFileDialog::ReadOnly, true);
        }
        return false;
    });
}

} // namespace FileDialogGuard
