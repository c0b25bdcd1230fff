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
    if (login.Password.size() > MaximumPasswordLength)
        return NewLoginCheck::PasswordTooLong;
    if (login.Question1.size() > MaximumQuestionLength ||
        login.Question2.size() > MaximumQuestionLength)
        return NewLoginCheck::QuestionTooLong;
    if (login.Answer1.size() > MaximumAnswerLength || login.Answer2.size() > MaximumAnswerLength)
        return NewLoginCheck::AnswerTooLong;
    for (const QString *field :
         {&login.Password, &login.Question1, &login.Answer1, &login.Question2, &login.Answer2}) {
        for (const QChar c : *field) {
            if (c.category() == QChar::Other_Control)
                return NewLoginCheck::ControlCharacter;
        }
    }
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
    case NewLoginCheck::PasswordTooLong:
        return QStringLiteral("The password must be at most 20 characters long");
    case NewLoginCheck::QuestionTooLong:
        return QStringLiteral("A reminder question must be at most 50 characters long");
    case NewLoginCheck::AnswerTooLong:
        return QStringLiteral("A reminder answer must be at most 25 characters long");
    case NewLoginCheck::ControlCharacter:
        return QStringLiteral("The password, questions and answers cannot hold control characters");
    case NewLoginCheck::FirstAnswerMissing:
        return QStringLiteral("An answer must be provided for the first reminder question");
    case NewLoginCheck::SecondAnswerMissing:
        return QStringLiteral("An answer must be provided for the second reminder question");
    }
    return QString();
}

} // namespace LoginRules
