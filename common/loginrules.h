#pragma once

#include "common/adminloginstore.h"

#include <QString>

// The checks a new administrator login passes before it is saved, shared by the change-login
// dialog and the administrator's command so both refuse the same logins with the same words.
namespace LoginRules {

enum class NewLoginCheck {
    Accepted,
    PasswordsDiffer,
    PasswordTooShort,
    PasswordTooLong,
    QuestionTooLong,
    AnswerTooLong,
    ControlCharacter,
    FirstAnswerMissing,
    SecondAnswerMissing,
};

constexpr int MinimumPasswordLength = 8;
// What the change-login dialog's boxes take: a longer value could never be typed there.
constexpr int MaximumPasswordLength = 20;
constexpr int MaximumQuestionLength = 50;
constexpr int MaximumAnswerLength = 25;

// Trims every field of `login` and `confirmation` in place (blanks and control characters at
// either end), then checks them in the order the user is told about them.
NewLoginCheck CheckNewLogin(recAdminLogin &login, QString &confirmation);

// The message shown for a refused check; empty for Accepted.
QString Message(NewLoginCheck check);

} // namespace LoginRules
