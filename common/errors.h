#pragma once

#include <QString>
#include <stdexcept>

// The one error type the program raises; handlers catch it (or anything) and end quietly,
// and the few places that report an error show message().
class EQuelvardError : public std::runtime_error
{
public:
    explicit EQuelvardError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message)
    {
    }
    QString message() const { return m_message; }

private:
    QString m_message;
};
