// The run's first and last lines in the log: who started which setup
// with which switches and rights, and how it ended.
#include "app/app.h"
#include "rollback/rollback.h"
#include "setup/wide.h"

namespace {


// True when the process runs with the Administrators group in its token:
// elevated on systems that split an administrator's token.
bool HasAdministratorRights()
{
    char administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) &&
           CheckTokenMembership(nullptr, administrators, &member) && member;
}

const char* ExitCodeMeaning(int code)
{
    switch (code) {
    case EXIT_INSTALLED:
        return "installed";
    case EXIT_RESTART_NEEDED:
        return "installed, a restart is needed";
    case EXIT_RESTART_STARTED:
        return "installed, Windows is restarted to complete it";
    case EXIT_CANCELLED:
        return "cancelled, the changes were undone";
    case EXIT_FAILED:
        return "failed, the changes were undone";
    case EXIT_ALREADY_RUNNING:
        return "another setup of the product is running, nothing was changed";
    case EXIT_NOT_SUPPORTED:
        return "a 64-bit product on 32-bit Windows, nothing was changed";
    case EXIT_NEWER_INSTALLED:
        return "a newer version of the product is installed, nothing was changed";
    case EXIT_INVALID_COMMAND_LINE:
        return "invalid command line, nothing was changed";
    default:
        return "unknown";
    }
}

} // namespace

void LogRunStart(const char* arguments)
{
    LogEvent("setup started: %s", Context.ModulePath);
    LogEvent("product: %s %s (%s)", LoadStringAsText(IDS_PRODUCT_NAME).c_str(),
             LoadStringAsText(IDS_PRODUCT_VERSION).c_str(), LoadStringAsText(IDS_PUBLISHER).c_str());
    LogEvent("switches: %s", arguments[0] ? arguments : "(none)");
    const CarriedLanguage* spoken = FindCarriedLanguage(Context.Languages, Context.LanguageCode);
    LogEvent("language: %s (%s)", spoken ? spoken->Code : "en", spoken ? spoken->Name : "English");
    char user[3 * 256] = "";
    DWORD size = sizeof user;
    if (!GetUserNameU(user, &size))
        CopyBounded(user, sizeof user, "(unknown)");
    LogEvent("user: %s, administrator rights: %s", user, HasAdministratorRights() ? "yes" : "no");
    LogEvent("installation scope: %s", CurrentInstallScope() == SCOPE_USER
                                          ? "per user (this user alone: HKEY_CURRENT_USER and the user's own folders)"
                                          : "per machine (every user: HKEY_LOCAL_MACHINE and the machine's folders)");
}

void LogExitCode(int code) { LogEvent("exit code %d: %s", code, ExitCodeMeaning(code)); }
