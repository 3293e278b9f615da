#include "doctor.h"

#include "doctor_link.h"
#include "usb_library_choice.h"

namespace kvx::ctl {

int runDoctor(const DoctorRequest& request, QTextStream& out, QTextStream& err, const DoctorEnvironment& environment)
{
    Findings findings;
    ExchangeCheck exchange{request.device, {}, environment.periodSpan};
#ifndef Q_OS_WIN
    // On Windows the vendor's driver owns the device: its library is all there is to see.
    if (!request.simulator) {
        UsbNodeReport nodes = checkUsbNodes(environment.usb);
        findings = std::move(nodes.findings);
        exchange.heldElsewhere = nodes.heldElsewhere;
    }
#endif
    const LibraryChoice choice =
        request.simulator ? simulatorLibrary(request.appDir) : hardwareLibrary(request.appDir);
    findings.push_back(libraryFinding(choice));
    if (findings.back().verdict == Verdict::Ok) {
        UsbLibrary link(choice.name, choice.displayName, choice.source);
        for (Finding& finding : exchangeFindings(link, exchange))
            findings.push_back(std::move(finding));
    } else {
        findings.push_back({QStringLiteral("exchange"), Verdict::Skipped, QStringLiteral("no library to open a controller with"), {}});
    }

    out << (request.json ? doctorJson(findings) : doctorText(findings));
    out.flush();
    if (out.status() != QTextStream::Ok) {
        err << "kvx340ctl: the report could not be written\n";
        err.flush();
        return DoctorFoundProblem;
    }
    return anyProblem(findings) ? DoctorFoundProblem : 0;
}

} // namespace kvx::ctl
