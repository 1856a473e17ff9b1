#pragma once

#include <QString>

#include <exception>

namespace tarlivo::transfer {

// A file that cannot be imported: the message, in German, names the file and the
// reason and is shown as it stands.
class TransferError : public std::exception {
public:
    explicit TransferError(QString message) : m_message(std::move(message)), m_what(m_message.toUtf8()) {}
    const QString &message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    QString m_message;
    QByteArray m_what;
};

} // namespace tarlivo::transfer
