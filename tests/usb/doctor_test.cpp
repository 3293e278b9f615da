// kvx340ctl doctor on emulated controllers: each case is a fault of
// controller X, the lines doctor must give for it and its exit status. The
// library doctor loads is the programs' own, from their build folder; every
// case also checks that only the frame of `status` was sent and that every
// open was closed.
#include "doctor.h"
#include "doctor_link.h"
#include "emulated_bus.h"
#include "scripted_link.h"
#include "simulator_location.h"
#include "usb_library.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cstdlib>
#include <optional>
#include <regex>

namespace {

using kvx::ctl::DoctorEnvironment;
using kvx::ctl::DoctorFoundProblem;
using kvx::ctl::DoctorRequest;
using kvx::usbtest::ControllerFaults;
using kvx::usbtest::EmulatedBus;
using kvx::usbtest::WithoutFileModeOverride;

enum Emulated { X, Y, Z };

EmulatedBus& bus()
{
    static EmulatedBus instance({
        {"KVX-340 X", 0x10C4, 0xEA61, 0x81, 0x01, 1},
        {"KVX-340 Y", 0x10C4, 0xEA61, 0x81, 0x01, 2},
        {"KVX-340 Z", 0x10C4, 0x8A5E, 0x81, 0x01, 3}, // listed only when KVX340_USB_IDS names it
    });
    return instance;
}

// The frame of `status`: the enable bit alone (with the toggle bit on every
// other frame), the sliders at their design values: idle current 160 * 50 %.
const std::regex StatusFrameOnly(".* frame out b44b50(08|88)ff7f329000000040");

struct Report {
    int status = 0;
    QStringList lines;
};

Report doctor(const DoctorRequest& request, const DoctorEnvironment& environment)
{
    QString text, errors;
    QTextStream out(&text), err(&errors);
    Report report;
    report.status = kvx::ctl::runDoctor(request, out, err, environment);
    report.lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return report;
}

struct Case {
    const char* name;
    ControllerFaults faults; // of X
    const char* ids;         // KVX340_USB_IDS, or none
    const char* device;      // -d
    bool ruleInstalled;
    int status;
    std::vector<const char*> lines; // each must match a whole line of the report
    int exchanges;                  // the controllers tried
    int idsWarnings = 0;            // the library's lines on KVX340_USB_IDS on standard error
    bool ruleReplaced = false;      // by an empty file of its name in a folder udev reads first
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

constexpr const char* ExchangeOk = R"(ok      exchange: \d "KVX-340 [XY]": open, exchange [0-9.]+ ms, \d+ exchanges in [0-9.]+ s, period [0-9.]+ ms, close)";

const std::vector<Case>& cases()
{
    static const std::vector<Case> table = {
        {"Healthy", {}, nullptr, "", true, 0,
         {R"(ok      devices: 2 with the factory ids 10c4:ea61: 1-1 10c4:ea61 "KVX-340 X" at /dev/bus/usb/001/002, )"
          R"(1-2 10c4:ea61 "KVX-340 Y" at /dev/bus/usb/001/003)",
          R"(ok      udev rule: installed as .*/70-kvx340.rules)",
          R"(ok      permission: 1-1: /dev/bus/usb/001/002 .rw-r--r-- \w+:\w+, no ACL: \w+ may open it)",
          R"(ok      driver: 1-1: no kernel driver bound)",
          R"(ok      library: kvx340usb loaded from .*/libkvx340usb\.so)",
          R"(ok      exchange: 0 "KVX-340 X": open, exchange [0-9.]+ ms, \d+ exchanges in [0-9.]+ s, period [0-9.]+ ms, close)"},
         2},
        {"PermissionRefused", {.refuseOpen = true}, nullptr, "KVX-340 X", true, DoctorFoundProblem,
         {R"(PROBLEM permission: 1-1: /dev/bus/usb/001/002 .--------- \w+:\w+, no ACL: \w+ may not open it Fix: .*udev rule.*)",
          R"(skipped driver: 1-1: not known, as its node cannot be opened)",
          R"(ok      permission: 1-2: .* may open it)",
          R"(PROBLEM exchange: 0 "KVX-340 X": the open failed \(status 0x08\) Fix: .*)"},
         1},
        {"DriverBoundIsBorrowed", {.driverBound = true}, nullptr, "0", true, 0,
         {R"(ok      driver: 1-1: cp210x is bound; the USB library detaches it .*)", ExchangeOk},
         1},
        {"InterfaceHeldElsewhere", {.heldElsewhere = true}, nullptr, "", true, DoctorFoundProblem,
         {R"(PROBLEM driver: 1-1: its interface is claimed by another program \(usbfs\) Fix: .*fuser -v /dev/bus/usb/001/002.*)",
          R"(PROBLEM exchange: 0 "KVX-340 X": in use by another program Fix: end the program that holds it.*)",
          R"(ok      exchange: 1 "KVX-340 Y": open.*close)"},
         2},
        {"NoDevice", {}, "1234:5678", "", true, DoctorFoundProblem,
         {R"(PROBLEM devices: no USB device with 1234:5678 from KVX340_USB_IDS Fix: plug the controller in.*)",
          R"(ok      udev rule: .*)", R"(PROBLEM exchange: the library finds no controller Fix: .*)"},
         1},
        {"RuleMissing", {}, nullptr, "1", false, DoctorFoundProblem,
         {R"(PROBLEM udev rule: 70-kvx340\.rules is in none of .* Fix: .*udevadm control --reload-rules.*)",
          R"(ok      exchange: 1 "KVX-340 Y": open.*)"},
         1},
        {"RuleReplacedByAnEmptyOne", {}, nullptr, "0", true, DoctorFoundProblem,
         {R"(PROBLEM udev rule: installed as .*/first/70-kvx340\.rules, but no rule names 1-1's product id ea61 Fix: .*)",
          ExchangeOk},
         1, 0, true},
        {"OwnProductIdWithoutARule", {}, "10c4:8a5e", "", true, DoctorFoundProblem,
         {R"(ok      devices: 1 with 10c4:8a5e from KVX340_USB_IDS: 1-3 10c4:8a5e "KVX-340 Z" at /dev/bus/usb/001/004)",
          R"(PROBLEM udev rule: installed as .*, but no rule names 1-3's product id 8a5e Fix: .*ATTR\{idProduct\}=="8a5e".*)",
          R"(ok      exchange: 0 "KVX-340 Z": open.*)"},
         1},
        {"MalformedIds", {}, "10c4-ea61", "KVX-340 Y", true, DoctorFoundProblem,
         {R"(PROBLEM devices: KVX340_USB_IDS="10c4-ea61" is malformed, so only 10c4:ea61 is looked for Fix: .*)",
          R"(ok      exchange: 1 "KVX-340 Y": open.*)"},
         1, 1},
        {"NoSuchController", {}, nullptr, "KVX-340 Q", true, DoctorFoundProblem,
         {R"(PROBLEM exchange: no controller "KVX-340 Q"; there are: KVX-340 X, KVX-340 Y Fix: .*)"}, 1},
    };
    return table;
}

class Doctor : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(rules_.isValid());
        for (Emulated device : {X, Y, Z})
            bus().reset(device);
        bus().reset(X, GetParam().faults);
        bus().clearLog();
        if (GetParam().ids)
            setenv("KVX340_USB_IDS", GetParam().ids, 1);
        else
            unsetenv("KVX340_USB_IDS");
        if (GetParam().ruleInstalled) {
            ASSERT_TRUE(QFile::copy(QStringLiteral(KVX_SOURCE_DIR "/packaging/70-kvx340.rules"),
                                    rules_.filePath(QStringLiteral("70-kvx340.rules"))));
        }
        const QString first = rules_.filePath(QStringLiteral("first"));
        environment_.usb.udevRuleDirs = {first, rules_.path()};
        if (GetParam().ruleReplaced) {
            QFile empty(first + QStringLiteral("/70-kvx340.rules"));
            ASSERT_TRUE(QDir().mkdir(first) && empty.open(QIODevice::WriteOnly));
        }
        // Exchanges every 30 ms for a fifth of a second, not a whole one.
        environment_.periodSpan = std::chrono::milliseconds(200);
    }

    QTemporaryDir rules_;
    DoctorEnvironment environment_;
};

TEST_P(Doctor, ReportsEachCheckOnALineWithItsStatusAndSendsOnlyTheFrameOfStatus)
{
    std::optional<WithoutFileModeOverride> ordinaryUser;
    if (GetParam().faults.refuseOpen)
        ordinaryUser.emplace();
    DoctorRequest request{false, QString::fromUtf8(GetParam().device), false, QStringLiteral(KVX_PROGRAM_DIR)};
    // The libraries doctor loads warn on standard error.
    testing::internal::CaptureStderr();
    const Report report = doctor(request, environment_);
    EXPECT_EQ(QString::fromStdString(testing::internal::GetCapturedStderr()).count(QStringLiteral("KVX340_USB_IDS=")),
              GetParam().idsWarnings);
    request.json = true;
    const Report json = doctor(request, environment_);
    ordinaryUser.reset();

    EXPECT_EQ(report.status, GetParam().status) << report.lines.join(QLatin1Char('\n')).toStdString();
    for (const char* pattern : GetParam().lines) {
        const std::regex wanted(pattern);
        EXPECT_TRUE(std::any_of(report.lines.begin(), report.lines.end(),
                                [&](const QString& line) { return std::regex_match(line.toStdString(), wanted); }))
            << "no line like " << pattern << " in\n" << report.lines.join(QLatin1Char('\n')).toStdString();
    }
    EXPECT_EQ(report.lines.filter(QRegularExpression(QStringLiteral("^\\w+ +exchange: "))).size(), GetParam().exchanges);

    // The same checks and results as one JSON object.
    ASSERT_EQ(json.lines.size(), 1);
    const QJsonObject object = QJsonDocument::fromJson(json.lines[0].toUtf8()).object();
    EXPECT_EQ(json.status, report.status);
    EXPECT_EQ(object[QStringLiteral("passed")].toBool(), report.status == 0);
    const QJsonArray checks = object[QStringLiteral("checks")].toArray();
    ASSERT_EQ(checks.size(), report.lines.size());
    for (qsizetype i = 0; i < checks.size(); ++i) {
        const QJsonObject check = checks[i].toObject();
        const QString result = check[QStringLiteral("result")].toString();
        EXPECT_TRUE(report.lines[i].startsWith((result == QLatin1String("problem") ? QStringLiteral("PROBLEM") : result)
                                                   .leftJustified(8) + check[QStringLiteral("check")].toString()))
            << report.lines[i].toStdString();
    }

    // Never the axis moved; every open closed, a borrowed driver given back.
    int opens = 0, closes = 0;
    for (const std::string& line : bus().log()) {
        if (line.find("frame out") != std::string::npos) {
            EXPECT_TRUE(std::regex_match(line, StatusFrameOnly)) << line;
        }
        opens += line.ends_with("request open");
        closes += line.ends_with("request close");
    }
    EXPECT_EQ(opens, closes);
    EXPECT_EQ(bus().driverBound(X), GetParam().faults.driverBound);
    EXPECT_EQ(bus().model(X).status().MotorPosition, 0);
}

INSTANTIATE_TEST_SUITE_P(Emulated, Doctor, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// --simulator: the library and exchange checks only, on the simulated
// controllers, held elsewhere or unplugged; a missing library and an
// unwritable report are problems too.
TEST(DoctorElsewhere, SimulatedControllersMissingLibraryAndUnwritableReport)
{
    QTemporaryDir state;
    ASSERT_TRUE(state.isValid());
    setenv("KVX340_SIM_STATE_DIR", state.path().toLocal8Bit().constData(), 1);
    const DoctorEnvironment quick{.usb = {}, .periodSpan = std::chrono::milliseconds(100)};
    DoctorRequest request{false, QStringLiteral("0"), true, QStringLiteral(KVX_PROGRAM_DIR)};

    Report report = doctor(request, quick);
    EXPECT_EQ(report.status, 0);
    ASSERT_EQ(report.lines.size(), 2) << report.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(report.lines[0].startsWith(QStringLiteral("ok      library: kvx340sim loaded from " KVX_PROGRAM_DIR "/")));
    EXPECT_TRUE(report.lines[1].startsWith(QStringLiteral("ok      exchange: 0 ")));

    // Held by another program: the simulator says so with the busy status.
    kvx::UsbLibrary other(kvx::simulatorLibraryPath(QStringLiteral(KVX_PROGRAM_DIR)));
    kvx::UsbHandle held = nullptr;
    ASSERT_EQ(other.SI_Open(0, &held), 0);
    report = doctor(request, quick);
    other.SI_Close(held);
    EXPECT_EQ(report.status, DoctorFoundProblem);
    EXPECT_TRUE(report.lines.last().startsWith(QStringLiteral("PROBLEM exchange: 0 \"")));
    EXPECT_TRUE(report.lines.last().contains(QStringLiteral(": in use by another program Fix: ")));

    // Every controller unplugged at its second exchange: X, listed again
    // once closed, takes no number from Y.
    setenv("KVX340_SIM_FAULTS", "unplug@2", 1);
    report = doctor({false, {}, true, QStringLiteral(KVX_PROGRAM_DIR)}, quick);
    unsetenv("KVX340_SIM_FAULTS");
    EXPECT_TRUE(report.lines.last().startsWith(QStringLiteral("PROBLEM exchange: 1 \"KVX-340 Y\": opened, then the exchange failed: ")))
        << report.lines.join(QLatin1Char('\n')).toStdString();

    // A library that is not where the program looks for it, named as the
    // loader names it. (A bare name would find the one already loaded here.)
    const kvx::ctl::Finding missing = kvx::ctl::libraryFinding(
        {QStringLiteral("/nonexistent/libkvx340sim.so"), QStringLiteral("kvx340sim"), kvx::LibrarySource::Simulator});
    EXPECT_EQ(missing.verdict, kvx::ctl::Verdict::Problem);
    EXPECT_TRUE(missing.text.startsWith(QStringLiteral("kvx340sim cannot be loaded: ")));
    EXPECT_TRUE(missing.text.contains(QStringLiteral("/nonexistent/libkvx340sim.so")));
    EXPECT_EQ(missing.fix, QStringLiteral("reinstall kvx340-sim, whose library this is"));

    // A report that cannot be written is no pass.
    QFile full(QStringLiteral("/dev/full"));
    ASSERT_TRUE(full.open(QIODevice::WriteOnly));
    QString errors;
    QTextStream out(&full), err(&errors);
    EXPECT_EQ(kvx::ctl::runDoctor(request, out, err, quick), DoctorFoundProblem);
    EXPECT_EQ(errors, QStringLiteral("kvx340ctl: the report could not be written\n"));
    unsetenv("KVX340_SIM_STATE_DIR");
}

// A controller unplugged during the checks leaves the list, as a real one
// does, and those after it move up.
struct UnpluggedOnClose : kvx::test::ScriptedLink {
    std::vector<QByteArray> after; // listed once X is closed
    int16_t SI_Close(kvx::UsbHandle handle) override
    {
        products = after;
        return ScriptedLink::SI_Close(handle);
    }
};

TEST(DoctorElsewhere, CountsAgainBeforeEachFurtherOpenAndSaysThatTheListChanged)
{
    const std::pair<std::vector<QByteArray>, const char*> rows[] = {
        {{"KVX-340 Y"}, R"(0 "KVX-340 Y" \(number 1 at the first count: the list changed\): open, .*, close)"},
        {{}, R"(1 "KVX-340 Y": no longer listed once: the list changed since the first count \(now: none\))"},
    };
    for (const auto& [after, y] : rows) {
        UnpluggedOnClose link;
        link.products = {"KVX-340 X", "KVX-340 Y"};
        link.after = after;
        const kvx::ctl::Findings findings = kvx::ctl::exchangeFindings(link, {{}, {}, std::chrono::milliseconds(0)});
        ASSERT_EQ(findings.size(), 2u);
        EXPECT_TRUE(std::regex_match(findings[1].text.toStdString(), std::regex(y))) << findings[1].text.toStdString();
        // Y opened by its new number, or not at all.
        EXPECT_EQ(link.calls.count(QStringLiteral("SI_Open")), after.empty() ? 1 : 2);
        EXPECT_EQ(link.openedDevice, 0u);
    }
}

} // namespace
