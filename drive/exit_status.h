// kvx340ctl's exit statuses: what a script can tell apart without reading
// standard error. Listed for people in the help and the manual page.
#pragma once

namespace kvx::ctl {

namespace ExitStatus {
inline constexpr int Done = 0;
inline constexpr int Usage = 1;
inline constexpr int LinkFailure = 2;
inline constexpr int NoController = 3;
inline constexpr int TargetMissed = 4;
inline constexpr int ControllerInUse = 5;
inline constexpr int TimedOut = 6;
inline constexpr int HomingFailed = 7;
inline constexpr int DoctorFoundProblem = 8;
inline constexpr int OutputFailed = 9;
} // namespace ExitStatus

inline constexpr const char* ExitStatusHelp =
    "Exit status:\n"
    "  0    done\n"
    "  1    wrong usage or a value out of range; nothing is sent to the controller\n"
    "  2    a link failure, with the panel's message on standard error\n"
    "  3    no such controller, several and none chosen, or a name that fits several\n"
    "  4    a move ended without reaching its target (a limit switch, or STOP)\n"
    "  5    the controller is in use by another program\n"
    "  6    --timeout expired; STOP was sent\n"
    "  7    home found no switch in time, or met the opposite one; STOP was sent\n"
    "  8    doctor found a problem\n"
    "  9    standard output or standard error could not be written\n"
    "  Ended by SIGINT, SIGTERM or SIGHUP (after STOP and the close), or by SIGPIPE\n"
    "  when the reader of its output has gone: the shell reports 128 + the signal.\n";

} // namespace kvx::ctl
