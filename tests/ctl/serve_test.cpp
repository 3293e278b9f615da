// kvx340ctl serve: its reader of messages and of parameters, and the real
// program on the simulator's library, fed lines on its standard input.
#include "drive_step.h"
#include "rpc_message.h"
#include "serve_params.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#ifndef Q_OS_WIN
#include <csignal>
#endif

using namespace kvx::ctl;

namespace {

// Each bad message, and what it gets back; good ones read as calls.
TEST(RpcReader, EachMessageAndWhatItGets)
{
    struct Case {
        QByteArray line;
        int code;         // 0: a call
        QJsonValue id;
        bool notification;
    };
    const Case cases[] = {
        {R"({"jsonrpc":"2.0","id":7,"method":"status"})", 0, 7, false},
        {R"({"jsonrpc":"2.0","id":"a","method":"move","params":{"position":5}})", 0, "a", false},
        {R"({"jsonrpc":"2.0","method":"stop"})", 0, QJsonValue::Null, true},
        {R"({"jsonrpc":"2.0","id":null,"method":"stop"})", 0, QJsonValue::Null, false},
        {"not json", RpcCode::ParseError, QJsonValue::Null, false},
        {R"({"jsonrpc":"2.0","id":1,"method":"status")", RpcCode::ParseError, QJsonValue::Null, false},
        {R"([{"jsonrpc":"2.0","id":1,"method":"stop"}])", RpcCode::InvalidRequest, QJsonValue::Null, false},
        {"[]", RpcCode::InvalidRequest, QJsonValue::Null, false},
        {R"({"jsonrpc":"1.0","id":2,"method":"status"})", RpcCode::InvalidRequest, 2, false},
        {R"({"id":3,"method":"status"})", RpcCode::InvalidRequest, 3, false},
        {R"({"jsonrpc":"2.0","id":4,"method":5})", RpcCode::InvalidRequest, 4, false},
        {R"({"jsonrpc":"2.0","id":{"a":1},"method":"status"})", RpcCode::InvalidRequest, QJsonValue::Null, false},
        {R"({"jsonrpc":"2.0","id":5,"method":"move","params":[5]})", RpcCode::InvalidParams, 5, false},
    };
    for (const Case& c : cases) {
        const RpcRead read = readRpcLine(c.line);
        EXPECT_EQ(read.call.has_value(), c.code == 0) << c.line.constData();
        if (read.call) {
            EXPECT_EQ(read.call->id, c.id) << c.line.constData();
            EXPECT_EQ(read.call->notification, c.notification) << c.line.constData();
        } else {
            EXPECT_EQ(read.refusal.code, c.code) << c.line.constData();
            EXPECT_EQ(read.refusal.id, c.id) << c.line.constData();
        }
    }
}

// Parameters read by the command line's rules, with its refusals.
TEST(ServeParams, ReadAsTheCommandLineReadsThem)
{
    struct Case {
        const char* method;
        const char* params;
        const char* refusal; // empty: read
        double target = 0;
        double seconds = -1;
    };
    const Case cases[] = {
        {"move", R"({"position":2.5})", "", 37.5},
        {"move", R"({"position":"2.5","relative":true,"timeout":3})", "", 37.5},
        {"move", R"({"position":"1,500"})", "the position is not a number: \"1,500\""},
        {"move", R"({})", "move needs \"position\""},
        {"move", R"({"position":1,"speed":3})", "move takes no parameter \"speed\""},
        {"move", R"({"position":1,"relative":"yes"})", "relative must be true or false"},
        {"move", R"({"position":[1]})", "position must be a number or a string"},
        {"move", R"({"position":1,"timeout":0})", "--timeout must be a number of seconds above 0, at most 604800, not \"0\""},
        {"jog", R"({"speed":500})", "", 0, -1},
        {"jog", R"({"speed":500,"seconds":2})", "", 0, 2},
        {"jog", R"({"speed":10001})", "the jog speed must be a whole number from -10000 to 10000, not \"10001\""},
        {"home", R"({"side":"up"})", "home needs left or right, not \"up\""},
        {"home", R"({"side":"left","speed":0})", "--speed must be a whole number from 1 to 10000, not \"0\""},
        {"status", R"({"x":1})", "status takes no parameter \"x\""},
    };
    for (const Case& c : cases) {
        Step step;
        const QJsonObject params = QJsonDocument::fromJson(c.params).object();
        const QString refusal = readServeStep(QLatin1String(c.method), params, Settings{}, step);
        EXPECT_EQ(refusal.toStdString(), c.refusal) << c.method << " " << c.params;
        if (refusal.isEmpty()) {
            EXPECT_DOUBLE_EQ(step.targetPosition, c.target) << c.params;
            EXPECT_DOUBLE_EQ(step.seconds, c.seconds) << c.params;
        }
    }
    Settings settings;
    EXPECT_EQ(readServeSet(QJsonDocument::fromJson(R"({"max-speed":"1,0"})").object(), settings),
              QStringLiteral("max-speed must be a whole number from 0 to 255, not \"1,0\""));
    EXPECT_EQ(readServeSet(QJsonDocument::fromJson(R"({"max-speed":90,"idle-percent":20})").object(), settings),
              QString());
    EXPECT_EQ(settings.sliders.Slider2, 90);
    EXPECT_EQ(settings.sliders.Slider5, 20);
}

// The real program, fed lines; its answers by id, its notifications in turn.
class ServeProgram : public ::testing::Test {
protected:
    void start(const QString& faults = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("KVX340_SIM_CALL_LOG"), log());
        environment.insert(QStringLiteral("KVX340_SIM_FAULTS"), faults);
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(CTL_PROGRAM),
                      {QStringLiteral("--simulator"), QStringLiteral("-d"), QStringLiteral("0"), QStringLiteral("--ratio"),
                       QStringLiteral("1"), QStringLiteral("serve")});
        ASSERT_TRUE(process.waitForStarted(30000));
        ASSERT_TRUE(waitFor([&] { return !notifications(QStringLiteral("opened")).isEmpty(); })) << stderrText().toStdString();
    }
    void send(const QByteArray& line) { process.write(line + '\n'); }
    bool waitFor(const std::function<bool()>& condition)
    {
        QElapsedTimer clock;
        clock.start();
        // Generous: the bound only names a hang on a loaded machine.
        while (clock.elapsed() < 30000) {
            readLines();
            if (condition())
                return true;
            process.waitForReadyRead(50);
        }
        return false;
    }
    QJsonObject answer(int id)
    {
        for (const QJsonObject& message : messages)
            if (message.value(QLatin1String("id")) == id)
                return message;
        return {};
    }
    bool answered(int id) { return !answer(id).isEmpty(); }
    QList<QJsonObject> notifications(const QString& method)
    {
        QList<QJsonObject> found;
        for (const QJsonObject& message : messages)
            if (message.value(QLatin1String("method")) == method)
                found << message;
        return found;
    }
    int finish()
    {
        EXPECT_TRUE(process.waitForFinished(30000));
        readLines();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : 128 + process.exitCode();
    }
    QString log() const { return folder.filePath(QStringLiteral("calls")); }
    QStringList calls() const
    {
        QFile file(log());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The last frame before the close carried STOP.
    bool stopBeforeClose() const
    {
        const QStringList c = calls();
        const qsizetype close = c.lastIndexOf(QStringLiteral("SI_Close 0"));
        for (qsizetype i = close - 1; i >= 0; --i)
            if (c[i].startsWith(QLatin1String("SI_Write 0 command ")))
                return (c[i].mid(19, 2).toInt(nullptr, 16) & 0x02) != 0;
        return false;
    }
    QString stderrText() { return QString::fromUtf8(process.readAllStandardError()); }
    void readLines()
    {
        pending += process.readAllStandardOutput();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end).trimmed();
            pending.remove(0, end + 1);
            QJsonParseError error{};
            const QJsonObject message = QJsonDocument::fromJson(line, &error).object();
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line.constData();
            messages << message;
        }
    }
    int code(int id) { return answer(id).value(QLatin1String("error")).toObject().value(QLatin1String("code")).toInt(); }
    QJsonObject data(int id) { return answer(id).value(QLatin1String("error")).toObject().value(QLatin1String("data")).toObject(); }

    QTemporaryDir folder;
    QProcess process;
    QByteArray pending;
    QList<QJsonObject> messages;
};

// A short session as a script runs it: the answers, their order, the end.
TEST_F(ServeProgram, AnswersEachRequestWhenItHasEnded)
{
    start();
    const QJsonObject opened = notifications(QStringLiteral("opened")).first().value(QLatin1String("params")).toObject();
    EXPECT_EQ(opened.value(QLatin1String("product")), QLatin1String("KVX-340 X"));
    EXPECT_EQ(opened.value(QLatin1String("settings")).toObject().value(QLatin1String("max-speed")), 180);
    send(R"({"jsonrpc":"2.0","id":1,"method":"move","params":{"position":300}})");
    send(R"({"jsonrpc":"2.0","id":2,"method":"status"})");
    send(R"({"jsonrpc":"2.0","id":3,"method":"set","params":{"max-speed":"1,0"}})");
    send(R"({"jsonrpc":"2.0","method":"subscribe"})");
    ASSERT_TRUE(waitFor([&] { return answered(1); }));
    // The status during the move came first, while the axis was busy.
    EXPECT_LT(messages.indexOf(answer(2)), messages.indexOf(answer(1)));
    EXPECT_EQ(code(3), -32602);
    const QJsonObject moved = answer(1).value(QLatin1String("result")).toObject();
    EXPECT_EQ(moved.value(QLatin1String("reached")), true);
    EXPECT_EQ(moved.value(QLatin1String("steps")), 300);
    EXPECT_GT(moved.value(QLatin1String("exchange")).toDouble(),
              answer(2).value(QLatin1String("result")).toObject().value(QLatin1String("exchange")).toDouble());
    ASSERT_TRUE(waitFor([&] { return notifications(QStringLiteral("reading")).size() >= 3; }));
    const QList<QJsonObject> readings = notifications(QStringLiteral("reading"));
    const auto exchangeOf = [](const QJsonObject& m) {
        return m.value(QLatin1String("params")).toObject().value(QLatin1String("exchange")).toDouble();
    };
    EXPECT_GT(exchangeOf(readings[2]), exchangeOf(readings[1]));
    send(R"({"jsonrpc":"2.0","id":4,"method":"close"})");
    EXPECT_EQ(finish(), 0);
    EXPECT_EQ(answer(4).value(QLatin1String("result")).toObject().value(QLatin1String("closed")), true);
    EXPECT_EQ(calls().last(), QLatin1String("SI_Close 0"));
}

// One motion at a time: a new one ends the one under way, which hears why.
TEST_F(ServeProgram, ANewMotionEndsTheOneUnderWay)
{
    start();
    send(R"({"jsonrpc":"2.0","id":1,"method":"move","params":{"position":30000}})");
    ASSERT_TRUE(waitFor([&] { return calls().contains(QStringLiteral("SI_Write 0 command 28")); }));
    send(R"({"jsonrpc":"2.0","id":2,"method":"move","params":{"position":50000}})");
    ASSERT_TRUE(waitFor([&] { return answered(1); }));
    EXPECT_EQ(code(1), 4);
    EXPECT_EQ(data(1).value(QLatin1String("ended")), QLatin1String("preempted"));
    EXPECT_EQ(data(1).value(QLatin1String("target")), 30000);
    send(R"({"jsonrpc":"2.0","id":3,"method":"stop"})");
    ASSERT_TRUE(waitFor([&] { return answered(2) && answered(3); }));
    EXPECT_EQ(data(2).value(QLatin1String("ended")), QLatin1String("stopped"));
    EXPECT_EQ(answer(3).value(QLatin1String("result")).toObject().value(QLatin1String("busy")), false);
    process.closeWriteChannel();
    EXPECT_EQ(finish(), 0);
}

// However the script goes, the axis is left stopped and the controller
// closed: its input ends, a signal, a failed link.
TEST_F(ServeProgram, EveryWayOutStopsTheAxisBeforeTheClose)
{
    enum class Way { InputEnds, Signal, LinkFails };
    struct Case {
        Way way;
        const char* faults;
        int exit;
    };
    const Case cases[] = {
        {Way::InputEnds, "", 0},
#ifndef Q_OS_WIN
        {Way::Signal, "", 128 + SIGTERM},
#endif
        {Way::LinkFails, "fail-read@t=1s", 2},
    };
    for (const Case& c : cases) {
        messages.clear();
        QFile::remove(log());
        start(QLatin1String(c.faults));
        send(R"({"jsonrpc":"2.0","id":1,"method":"move","params":{"position":30000}})");
        ASSERT_TRUE(waitFor([&] { return calls().contains(QStringLiteral("SI_Write 0 command 28")); }));
        send(R"({"jsonrpc":"2.0","id":2,"method":"wait-idle"})");
        if (c.way == Way::InputEnds)
            process.closeWriteChannel();
#ifndef Q_OS_WIN
        if (c.way == Way::Signal)
            ::kill(pid_t(process.processId()), SIGTERM);
#endif
        EXPECT_EQ(finish(), c.exit) << int(c.way);
        EXPECT_TRUE(stopBeforeClose()) << int(c.way) << calls().join(QLatin1Char('\n')).toStdString();
        if (c.way == Way::LinkFails) {
            // Every request still pending hears the panel's message.
            for (int id : {1, 2}) {
                EXPECT_EQ(code(id), 2) << id;
                EXPECT_TRUE(answer(id).value(QLatin1String("error")).toObject().value(QLatin1String("message"))
                                .toString().startsWith(QLatin1String("Error writing to USB. Read  0 of  12 bytes.")));
            }
        }
        process.close();
    }
}

} // namespace
