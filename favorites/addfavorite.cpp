#include "favorites/addfavorite.h"

#include "ui_addfavorite.h"

#include "common/errors.h"
#include "common/favoritesstore.h"
#include "common/machinepolicies.h"
#include "common/textutils.h"
#include "widgets/dialogseam.h"

#include <QFileInfo>
#include <QKeyEvent>

namespace {

const QString EmptyLine = QStringLiteral("\r\n\r\n");
const QString SaveFailed = QStringLiteral("An error occurred saving the favorite");
const QString CreateError = QStringLiteral("Creating the favorite caused an error: ");

} // namespace

const QString TfrmAddFavorite::ChangesForbidden =
    QStringLiteral("The administrator does not allow changes to the favorites.");

const QString TfrmAddFavorite::ForbiddenCharacters = QStringLiteral("&\"/\\?:*<>|");

TfrmAddFavorite::TfrmAddFavorite(QWidget *owner) : QDialog(owner), ui(new Ui::TfrmAddFavorite)
{
    ui->setupUi(this);
    Label1 = ui->Label1;
    Label2 = ui->Label2;
    edtName = ui->edtName;
    cbOk = ui->cbOk;
    cbCancel = ui->cbCancel;

    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(329, 121);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    // On an account the administrator keeps unchanged, nothing is added; SaveFavorite refuses
    // too, for any other way in.
    const bool allowed = MachinePolicies::Current().UserChangesAllowed();
    cbOk->setEnabled(allowed);
    edtName->setEnabled(allowed);
    connect(cbOk, &QPushButton::clicked, this, &TfrmAddFavorite::cbOkClick);
    connect(cbCancel, &QPushButton::clicked, this, &QDialog::reject);
    edtName->setFocus();
}

TfrmAddFavorite::~TfrmAddFavorite()
{
    delete ui;
}

void TfrmAddFavorite::keyPressEvent(QKeyEvent *event)
{
    // No button of this dialog answers Escape: only Cancel and the close box cancel it.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TfrmAddFavorite::cbOkClick()
{
    try {
        const QString name = TextUtils::Trim(edtName->text());
        if (name.isEmpty()) {
            TDialogs::Error(nullptr, QStringLiteral("Invalid favorite name"));
            edtName->setFocus();
            return;
        }
        for (const QChar c : name) {
            if (!ForbiddenCharacters.contains(c))
                continue;
            QStringList listed;
            for (const QChar forbidden : ForbiddenCharacters)
                listed << QString(forbidden);
            TDialogs::Error(nullptr,
                            QStringLiteral("The favorite name includes illegal characters") +
                                EmptyLine +
                                QStringLiteral("The following characters are not "
                                               "permitted: ") +
                                listed.join(QLatin1Char(' ')));
            edtName->setFocus();
            return;
        }
        if (SaveFavorite())
            accept();
    } catch (const EQuelvardError &error) {
        TDialogs::Error(this, CreateError + error.message());
    } catch (const std::exception &error) {
        TDialogs::Error(this, CreateError + QString::fromLocal8Bit(error.what()));
    }
}

bool TfrmAddFavorite::SaveFavorite()
{
    if (!MachinePolicies::Current().UserChangesAllowed()) {
        TDialogs::Error(this, ChangesForbidden);
        return false;
    }
    try {
        QString folder = FavoritesStore::FavoritesFolder();
        if (!folder.isEmpty() && !folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        if (!FavoritesStore::IsFolder(folder))
            FavoritesStore::CreateFolderPath(folder);
        if (folder.isEmpty() || !FavoritesStore::IsFolder(folder)) {
            TDialogs::Error(
                this, SaveFailed + EmptyLine +
                          QStringLiteral("Retrieving the Explorer favorites directory failed"));
            return false;
        }
        const QString windowsDir = FavoritesStore::GetWindowsDir();
        if (windowsDir.isEmpty() || !FavoritesStore::IsFolder(windowsDir)) {
            TDialogs::Error(this, SaveFailed + EmptyLine +
                                      QStringLiteral("Retrieving the Windows directory failed"));
            return false;
        }
        const QString systemDir = FavoritesStore::GetSystemDir();
        if (systemDir.isEmpty() || !FavoritesStore::IsFolder(systemDir)) {
            TDialogs::Error(this,
                            SaveFailed + EmptyLine +
                                QStringLiteral("Retrieving the Windows System directory failed"));
            return false;
        }
        // The name as typed, blanks included: the checks looked at it trimmed only.
        const QString path = folder + edtName->text() + QStringLiteral(".irl");
        // Anything of the name but a real folder is an existing favorite to ask about.
        const QFileInfo existing(path);
        if (FavoritesStore::EntryExists(path) && (existing.isSymLink() || !existing.isDir())) {
            const bool overwrite = TDialogs::Ask(
                this, QStringLiteral("A favorite with this name already exists") + EmptyLine +
                          QStringLiteral("Overwrite the existing favorite information?"));
            if (!overwrite)
                return false;
        }
        FavoritesStore::WriteFileAtomically(
            path, FavoritesStore::FavoriteFileContent(FavoriteURL, windowsDir, systemDir));
        return true;
    } catch (const EQuelvardError &error) {
        TDialogs::Error(this, CreateError + error.message());
    } catch (const std::exception &error) {
        TDialogs::Error(this, CreateError + QString::fromLocal8Bit(error.what()));
    }
    return false;
}
