// dcf77tx-logon: started by the logon task, runs dcf77tx with the options
// of settings.txt, unseen, and appends what it prints to dcf77tx.log (both
// in %ProgramData%\dcf77tx); past a megabyte the log is moved to
// dcf77tx.log.old, while the program runs. A run that fails (status 1: a
// device missing or pulled out) is tried again after 10 s, the wait
// doubling up to 10 minutes; a bad setting (2) or a finished run (0) ends
// the launcher with that status. The settings are read again for each try.
//   dcf77tx-logon [--log-limit BYTES]
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/logon_settings.h"
#include "platform/logon_system.h"

// The log's path and size limit.
static std::string logPath;
static std::int64_t logLimit = 1 << 20;

static void Say(const std::string& text) { AppendToLog(logPath, LocalTimeText() + " " + text + "\r\n", logLimit); }

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--log-limit") == 0) logLimit = std::atoll(argv[2]);
    const std::string folder = LogonFolder(), settingsPath = folder + "\\settings.txt";
    logPath = folder + "\\dcf77tx.log";
    int wait = 0;
    for (;;) {
        std::string text, problem;
        LogonSettings settings;
        if (!ReadTextFile(settingsPath, &text, &problem)) {
            Say(settingsPath + ": " + problem + " (the installer's \"Start at logon\" makes it): stopped");
            return 2;
        }
        if (!ReadLogonSettings(text, &settings, &problem)) {
            Say(settingsPath + ", " + problem + ": stopped");
            return 2;
        }
        const std::string command = QuotedCommandLine(PathBesideThisProgram("dcf77tx.exe"), LogonArguments(settings));
        Say("starting: " + command);
        const std::int64_t start = SecondsSinceBoot();
        const std::int64_t status = RunIntoLog(command, logPath, logLimit, &problem);
        if (status == 0 || status == 2) {
            Say("dcf77tx ended with status " + std::to_string(status) +
                (status == 2 ? " (a bad setting in " + settingsPath + ", said above)" : "") + ": stopped");
            return static_cast<int>(status);
        }
        wait = NextRetrySeconds(wait, SecondsSinceBoot() - start);
        Say((status < 0 ? "cannot start dcf77tx.exe: " + problem : "dcf77tx ended with status " + std::to_string(status)) +
            "; next try in " + std::to_string(wait) + " s");
        SleepSeconds(wait);
    }
}
