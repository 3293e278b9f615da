// kvx340-usb-emulator: starts a program on emulated KVX-340 controllers.
//   kvx340-usb-emulator [--controllers "KVX-340 X,KVX-340 Y"] [--log FILE] [--log-times]
//       [--driver-bound] [--held-elsewhere] [--refuse-open] [--unplug-after SECONDS]
//       -- PROGRAM [ARGUMENTS...]
// The program sees the controllers as USB devices 10C4:EA61 on bus 1, each
// driving a simulated axis; it ends when the program ends, with its status.
// The faults given apply to every controller; tests/usb/README.md has more.
#include "emulated_bus.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

pid_t child = 0;

void forward(int signum)
{
    if (child > 0)
        kill(child, signum);
}

int usage()
{
    std::fprintf(stderr, "usage: kvx340-usb-emulator [--controllers \"KVX-340 X,KVX-340 Y\"] [--log FILE]\n"
                         "         [--log-times]\n"
                         "         [--driver-bound] [--held-elsewhere] [--refuse-open]\n"
                         "         [--unplug-after SECONDS]\n"
                         "         -- PROGRAM [ARGUMENTS...]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    std::string serials = "KVX-340 X,KVX-340 Y";
    std::string logPath;
    bool logTimes = false;
    kvx::usbtest::ControllerFaults faults;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--")
            break;
        if (option == "--controllers" && hasValue)
            serials = argv[++i];
        else if (option == "--log" && hasValue)
            logPath = argv[++i];
        else if (option == "--log-times")
            logTimes = true;
        else if (option == "--driver-bound")
            faults.driverBound = true;
        else if (option == "--held-elsewhere")
            faults.heldElsewhere = true;
        else if (option == "--refuse-open")
            faults.refuseOpen = true;
        else if (option == "--unplug-after" && hasValue)
            faults.unplugAfter = std::atof(argv[++i]);
        else
            return usage();
    }
    if (i + 1 >= argc)
        return usage();

    std::vector<kvx::usbtest::ControllerIdentity> controllers;
    for (std::size_t start = 0, port = 1; start <= serials.size(); ++port) {
        const std::size_t comma = std::min(serials.find(',', start), serials.size());
        kvx::usbtest::ControllerIdentity identity;
        identity.serial = serials.substr(start, comma - start);
        identity.port = int(port);
        if (!identity.serial.empty())
            controllers.push_back(identity);
        start = comma + 1;
    }
    kvx::usbtest::EmulatedBus bus(controllers, logPath, logTimes);
    for (std::size_t c = 0; c < controllers.size(); ++c)
        bus.reset(c, faults);

    // The testbed has set UMOCKDEV_DIR; the preload makes the program use it.
    const std::string preload = kvx::usbtest::preloadWithUmockdev(std::getenv("LD_PRELOAD"));
    child = fork();
    if (child < 0) {
        std::perror("kvx340-usb-emulator: fork");
        return 1;
    }
    if (child == 0) {
        setenv("LD_PRELOAD", preload.c_str(), 1);
        // Root may open any file, whatever its mode: the program started
        // gets no capability to, as an ordinary user has none.
        if (faults.refuseOpen && geteuid() == 0)
            for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
                prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
        execvp(argv[i + 1], argv + i + 1);
        std::fprintf(stderr, "kvx340-usb-emulator: cannot start %s: %s\n", argv[i + 1], std::strerror(errno));
        _exit(127);
    }
    for (int signum : {SIGTERM, SIGINT, SIGHUP})
        std::signal(signum, forward);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
