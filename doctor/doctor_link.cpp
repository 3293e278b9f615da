#include "doctor_link.h"

#include "controller_choice.h"
#include "device_list.h"
#include "exchange.h"
#include "frames.h"
#include "usbxpress.h"

#include <QFileInfo>
#include <QLibrary>
#include <optional>
#include <thread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kvx::ctl {
namespace {

using Clock = std::chrono::steady_clock;

// The panel's timer, whose period doctor keeps for a while.
constexpr std::chrono::milliseconds PanelPeriod{30};

constexpr const char* Functions[] = {"SI_GetNumDevices", "SI_GetProductString", "SI_Open",
                                     "SI_Close",         "SI_Read",             "SI_Write",
                                     "SI_SetTimeouts",   "SI_GetTimeouts",      "SI_CheckRXQueue"};

// The file a function of the loaded library lives in, as the loader found it.
QString fileOf(QFunctionPointer function)
{
#ifdef Q_OS_WIN
    HMODULE module = nullptr;
    wchar_t path[MAX_PATH];
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(function), &module) ||
        !GetModuleFileNameW(module, path, MAX_PATH))
        return {};
    return QString::fromWCharArray(path);
#else
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(function), &info) || !info.dli_fname)
        return {};
    const QString file = QFile::decodeName(info.dli_fname);
    const QString real = QFileInfo(file).canonicalFilePath();
    return real.isEmpty() ? file : real;
#endif
}

QString fixForMissing(LibrarySource source)
{
    switch (source) {
    case LibrarySource::Vendor:
        return QStringLiteral("install the vendor's USBXpress library: SiUSBXp.dll beside kvx340ctl.exe or in "
                              "the Windows system folder");
    case LibrarySource::Simulator:
        return QStringLiteral("reinstall kvx340-sim, whose library this is");
    case LibrarySource::Bundled:
        break;
    }
    return QStringLiteral("reinstall kvx340, whose own library this is");
}

QString statusText(int status) { return QStringLiteral("0x%1").arg(status & 0xFFFF, 2, 16, QLatin1Char('0')); }

QString milliseconds(Clock::duration span)
{
    return QString::number(std::chrono::duration<double, std::milli>(span).count(), 'f', 1) + QStringLiteral(" ms");
}

// The controllers asked for: every one, or the one -d names as every other
// command would choose it.
std::vector<uint32_t> chosenDevices(const QStringList& products, const QString& wanted, QString& refusal)
{
    std::vector<uint32_t> chosen;
    if (wanted.isEmpty()) {
        for (uint32_t n = 0; n < uint32_t(products.size()); ++n)
            chosen.push_back(n);
        return chosen;
    }
    const ControllerChoice choice = chooseController(products, wanted);
    if (choice.device)
        chosen.push_back(*choice.device);
    refusal = choice.error;
    return chosen;
}

// One exchange as `status` makes it: the enable bit, nothing else requested,
// the sliders at their design values.
bool exchangeOnce(UsbLink& link, MotionState& state, QString& failure)
{
    const TickResult result = runExchange(state, SliderValues{}, 0, link);
    failure = result.failureMessage;
    return !result.failed;
}

// A controller to open, and how the report names it.
struct Listed {
    uint32_t device;
    QString product;
    QString who;
};

Finding countFailure(const MotionState& state, const QString& again)
{
    return {QStringLiteral("exchange"), Verdict::Problem,
            QStringLiteral("the library could not count the controllers%1 (status %2)").arg(again, statusText(state.LinkStatus)),
            {}};
}

// A controller unplugged during the checks (by the check itself, or by
// hand) leaves the list, and those after it move up: the number of the
// first count may name another controller, or none. Counted again before
// each further open, the product is found where it now stands; a finding
// when it is not there once (gone, or two of that name now).
std::optional<Finding> countAgain(UsbLink& link, const QStringList& first, Listed& listed)
{
    MotionState state;
    const DeviceListing now = listDevices(link, state);
    if (now.entries == first)
        return std::nullopt;
    if (!now.counted)
        return countFailure(state, QStringLiteral(" again"));
    if (now.entries.count(listed.product) != 1)
        return Finding{QStringLiteral("exchange"), Verdict::Problem,
                       QStringLiteral("%1: no longer listed once: the list changed since the first count (now: %2)")
                           .arg(listed.who,
                                now.entries.isEmpty() ? QStringLiteral("none") : now.entries.join(QStringLiteral(", "))),
                       QStringLiteral("check its cable and power, then run doctor again")};
    const uint32_t device = uint32_t(now.entries.indexOf(listed.product));
    if (device != listed.device)
        listed.who = QStringLiteral("%1 \"%2\" (number %3 at the first count: the list changed)")
                         .arg(device)
                         .arg(listed.product)
                         .arg(listed.device);
    listed.device = device;
    return std::nullopt;
}

Finding exchangeWith(UsbLink& link, const Listed& listed, const ExchangeCheck& check)
{
    const QString& who = listed.who;
    MotionState state;
    if (!openDevice(link, state, listed.device)) {
        if (state.LinkStatus == SiStatus::DeviceBusy || check.heldElsewhere.contains(listed.product))
            return {QStringLiteral("exchange"), Verdict::Problem, who + QStringLiteral(": in use by another program"),
                    QStringLiteral("end the program that holds it (kvx340, kvx340ctl or another) and try again")};
        return {QStringLiteral("exchange"), Verdict::Problem,
                QStringLiteral("%1: the open failed (status %2)").arg(who, statusText(state.LinkStatus)),
                QStringLiteral("mend what the lines above report; else unplug and replug the controller")};
    }
    state.EnableFlag = CommandBit::Enable;
    QString failure;
    const Clock::time_point first = Clock::now();
    bool exchanged = exchangeOnce(link, state, failure);
    const Clock::duration exchangeTime = Clock::now() - first;
    int periods = 0;
    Clock::time_point last = first;
    for (Clock::time_point next = first + PanelPeriod; exchanged && next - first <= check.span; next += PanelPeriod) {
        std::this_thread::sleep_until(next);
        last = Clock::now();
        exchanged = exchangeOnce(link, state, failure);
        ++periods;
    }
    const int16_t closeStatus = link.SI_Close(state.DeviceHandle);
    if (!exchanged)
        return {QStringLiteral("exchange"), Verdict::Problem,
                QStringLiteral("%1: opened, then the exchange failed: %2").arg(who, failure),
                QStringLiteral("check the cable and the controller's power; send this report to the developers")};
    const QString kept = QStringLiteral("%1 exchanges in %2 s, period %3")
                             .arg(periods + 1)
                             .arg(QString::number(std::chrono::duration<double>(last - first).count(), 'f', 2),
                                  periods ? milliseconds((last - first) / periods) : QStringLiteral("-"));
    if (closeStatus != SiStatus::Success)
        return {QStringLiteral("exchange"), Verdict::Problem,
                QStringLiteral("%1: exchange %2, %3; the close failed (status %4)")
                    .arg(who, milliseconds(exchangeTime), kept, statusText(closeStatus)),
                QStringLiteral("unplug and replug the controller")};
    return {QStringLiteral("exchange"), Verdict::Ok,
            QStringLiteral("%1: open, exchange %2, %3, close").arg(who, milliseconds(exchangeTime), kept), {}};
}

} // namespace

Finding libraryFinding(const LibraryChoice& choice)
{
    QLibrary library(choice.name);
    if (!library.load())
        return {QStringLiteral("library"), Verdict::Problem,
                QStringLiteral("%1 cannot be loaded: %2").arg(choice.displayName, library.errorString()),
                fixForMissing(choice.source)};
    QStringList missing;
    for (const char* function : Functions)
        if (!library.resolve(function))
            missing << QLatin1String(function);
    const QString file = fileOf(library.resolve(Functions[0]));
    if (!missing.isEmpty())
        return {QStringLiteral("library"), Verdict::Problem,
                QStringLiteral("%1 loaded from %2 lacks %3").arg(choice.displayName, file, missing.join(QStringLiteral(", "))),
                fixForMissing(choice.source)};
    return {QStringLiteral("library"), Verdict::Ok,
            QStringLiteral("%1 loaded from %2").arg(choice.displayName, file), {}};
}

Findings exchangeFindings(UsbLink& link, const ExchangeCheck& check)
{
    try {
        MotionState listingState;
        const DeviceListing listing = listDevices(link, listingState);
        if (!listing.counted)
            return {countFailure(listingState, {})};
        if (listing.entries.isEmpty())
            return {{QStringLiteral("exchange"), Verdict::Problem, QStringLiteral("the library finds no controller"),
                     QStringLiteral("mend what the lines above report")}};
        QString refusal;
        const std::vector<uint32_t> chosen = chosenDevices(listing.entries, check.device, refusal);
        if (chosen.empty())
            return {{QStringLiteral("exchange"), Verdict::Problem,
                     refusal.section(QLatin1Char('\n'), 0, 0) + QStringLiteral("; there are: %1")
                         .arg(listing.entries.join(QStringLiteral(", "))),
                     QStringLiteral("name one by its product string, or by its number as -d '#N'")}};
        Findings findings;
        for (uint32_t device : chosen) {
            const QString product = listing.entries[int(device)];
            Listed listed{device, product, QStringLiteral("%1 \"%2\"").arg(device).arg(product)};
            std::optional<Finding> gone = findings.empty() ? std::nullopt : countAgain(link, listing.entries, listed);
            findings.push_back(gone ? *std::move(gone) : exchangeWith(link, listed, check));
        }
        return findings;
    } catch (const LinkUnavailable& missing) {
        return {{QStringLiteral("exchange"), Verdict::Problem, QString::fromStdString(missing.what()), {}}};
    }
}

} // namespace kvx::ctl
