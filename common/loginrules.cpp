#include "common/loginrules.h"

#include "common/textutils.h"

namespace LoginRules {

NewLoginCheck CheckNewLogin(recAdminLogin &login, QString &confirmation)
{
    login.Password = TextUtils::Trim(login.Password);
    confirmation = TextUtils::Trim(confirmation);
    login.Question1 = TextUtils::Trim(login.Question1);
    login.Question2 = TextUtils::Trim(login.Question2);
    login.Answer1 = TextUtils::Trim(login.Answer1);
    login.Answer2 = TextUtils::Trim(login.Answer2);

    if (login.Password != confirmation)
        return NewLoginCheck::PasswordsDiffer;
    if (login.Password.size() < MinimumPasswordLength)
        return NewLoginCheck::PasswordTooShort;
    if (!login.Question1.isEmpty() && login.Answer1.isEmpty())
        return NewLoginCheck::FirstAnswerMissing;
    if (!login.Question2.isEmpty() && login.Answer2.isEmpty())
        return NewLoginCheck::SecondAnswerMissing;
    return NewLoginCheck::Accepted;
}

QString Message(NewLoginCheck check)
{
    switch (check) {
    case NewLoginCheck::Accepted:
        return QString();
    case NewLoginCheck::PasswordsDiffer:
        return QStringLiteral("The entered passwords do not match");
    case NewLoginCheck::PasswordTooShort:
        return QStringLiteral("The password must be at least 8 characters long");
    case NewLoginCheck::FirstAnswerMissing:
        return QStringLiteral("An answer must be provided for the first reminder question");
    case NewLoginCheck::SecondAnswerMissing:
        return QStringLiteral("An answer must be provided for the second reminder question");
    }
    return QString();
}

} // namespace LoginRules
