#include "rpc_message.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <charconv>

namespace kvx::ctl {
namespace {

RpcRead refused(int code, const QString& message, const QJsonValue& id = QJsonValue::Null)
{
    return {std::nullopt, {code, message, id}};
}

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

RpcRead readRpcLine(const QByteArray& text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        return refused(RpcCode::ParseError, QStringLiteral("Parse error: %1 at offset %2")
                                                .arg(error.errorString()).arg(error.offset));
    if (document.isArray())
        return refused(RpcCode::InvalidRequest,
                       QStringLiteral("Invalid Request: batches are not served; send one request a line"));
    if (!document.isObject())
        return refused(RpcCode::InvalidRequest, QStringLiteral("Invalid Request: not an object"));
    const QJsonObject object = document.object();
    const QJsonValue id = object.value(QLatin1String("id"));
    const bool hasId = object.contains(QLatin1String("id"));
    if (hasId && !id.isString() && !id.isDouble() && !id.isNull())
        return refused(RpcCode::InvalidRequest, QStringLiteral("Invalid Request: id must be a string, a number or null"));
    const QJsonValue answerTo = hasId ? id : QJsonValue(QJsonValue::Null);
    if (object.value(QLatin1String("jsonrpc")) != QLatin1String("2.0"))
        return refused(RpcCode::InvalidRequest, QStringLiteral("Invalid Request: jsonrpc must be \"2.0\""), answerTo);
    const QJsonValue method = object.value(QLatin1String("method"));
    if (!method.isString())
        return refused(RpcCode::InvalidRequest, QStringLiteral("Invalid Request: method must be a string"), answerTo);
    RpcCall call;
    call.id = answerTo;
    call.notification = !hasId;
    call.method = method.toString();
    const QJsonValue params = object.value(QLatin1String("params"));
    if (params.isObject()) {
        call.params = params.toObject();
    } else if (!params.isUndefined()) {
        // Valid JSON-RPC, but every parameter here has a name.
        RpcRead read = refused(RpcCode::InvalidParams, QStringLiteral("params must be an object of named parameters"),
                               answerTo);
        if (call.notification)
            read.refusal.code = 0; // not answered
        return read;
    }
    return {call, {}};
}

RpcRefusal tooLongRefusal()
{
    return {RpcCode::InvalidRequest,
            QStringLiteral("Invalid Request: a message longer than %1 bytes is not read").arg(MaxMessageBytes),
            QJsonValue::Null};
}

QByteArray rpcResult(const QJsonValue& id, const QJsonObject& result)
{
    return line({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), id},
                 {QStringLiteral("result"), result}});
}

QByteArray rpcError(const QJsonValue& id, int code, const QString& message, const QJsonObject& data)
{
    QJsonObject error{{QStringLiteral("code"), code}, {QStringLiteral("message"), message}};
    if (!data.isEmpty())
        error.insert(QStringLiteral("data"), data);
    return line({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("id"), id},
                 {QStringLiteral("error"), error}});
}

QByteArray rpcNotification(const QString& method, const QJsonObject& params)
{
    return line({{QStringLiteral("jsonrpc"), QStringLiteral("2.0")}, {QStringLiteral("method"), method},
                 {QStringLiteral("params"), params}});
}

std::optional<QString> parameterWord(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (!value.isDouble())
        return std::nullopt;
    char digits[64];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, value.toDouble());
    if (error != std::errc())
        return std::nullopt;
    return QString::fromLatin1(digits, end - digits);
}

} // namespace kvx::ctl
