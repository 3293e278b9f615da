// JSON-RPC 2.0 as serve speaks it: one message a line. The reader turns a
// line into a call or into the error it earns; the writers make the lines.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>

namespace kvx::ctl {

namespace RpcCode {
inline constexpr int ParseError = -32700;
inline constexpr int InvalidRequest = -32600;
inline constexpr int MethodNotFound = -32601;
inline constexpr int InvalidParams = -32602;
} // namespace RpcCode

// serve refuses longer lines without keeping them.
inline constexpr qsizetype MaxMessageBytes = 1024 * 1024;

struct RpcCall {
    QJsonValue id;             // a string, a number or null
    bool notification = false; // no id: carried out, never answered
    QString method;
    QJsonObject params;
};

struct RpcRefusal {
    int code = 0;
    QString message;
    QJsonValue id; // null unless the request's own could be read
};

struct RpcRead {
    std::optional<RpcCall> call;
    RpcRefusal refusal; // when there is no call
};

RpcRead readRpcLine(const QByteArray& line);
RpcRefusal tooLongRefusal();

QByteArray rpcResult(const QJsonValue& id, const QJsonObject& result);
QByteArray rpcError(const QJsonValue& id, int code, const QString& message, const QJsonObject& data = {});
QByteArray rpcNotification(const QString& method, const QJsonObject& params);

// A parameter's value as the command line would have read it from a word:
// numbers in their shortest exact form, strings as they are; empty when
// it is neither.
std::optional<QString> parameterWord(const QJsonValue& value);

} // namespace kvx::ctl
