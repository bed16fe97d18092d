#pragma once

#include <QString>

#include <stdexcept>

// The error every layer raises for a failure the user is told about: its
// message is the very text shown in the error box.
class EsbError : public std::runtime_error
{
public:
    explicit EsbError(const QString &Message)
        : std::runtime_error(Message.toStdString()), FMessage(Message)
    {}

    const QString &Message() const noexcept { return FMessage; }

private:
    QString FMessage;
};
