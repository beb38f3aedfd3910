#pragma once

// How the end-to-end tests start the program and the message box probe: the Linux builds
// (BLENDSPIN_PATH, MESSAGE_BOX_PROBE), or the Windows ones under Wine where the environment
// names them (BLENDSPIN_WINDOWS_PROGRAM, BLENDSPIN_WINDOWS_PROBE; Wine's own settings, such
// as WINEPREFIX, come from the environment too), each in a clean environment.

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace program_command {

inline const char* windowsProgram(const char* variable) {
    const char* path = std::getenv(variable);
    return path != nullptr && *path != '\0' ? path : nullptr;
}

inline bool underWine() {
    return windowsProgram("BLENDSPIN_WINDOWS_PROGRAM") != nullptr;
}

// What the program gets of the test's environment: the display the test set (and its
// credentials, for a compositor's XWayland), the search path,
// home, user and locale, and the sanitizers' and Wine's settings. Nothing else of the
// machine's (a D-Bus address, say) reaches it, so a run does not depend on where it started.
inline std::vector<std::string> cleanEnvironment() {
    std::vector<std::string> kept{"-i"};
    for (const char* name :
         {"DISPLAY", "XAUTHORITY", "PATH", "HOME", "USER", "LANG", "ASAN_OPTIONS", "LSAN_OPTIONS",
          "UBSAN_OPTIONS", "WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES"}) {
        if (const char* value = std::getenv(name)) kept.push_back(std::string(name) + "=" + value);
    }
    return kept;
}

// A clean environment with `environment` (NAME=value) added, then `launcher` (a command that
// starts the next one, such as dbus-run-session), then the program and `arguments`.
inline std::vector<std::string> command(const char* linuxPath, const char* windowsVariable,
                                        const std::vector<std::string>& environment,
                                        const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& launcher = {}) {
    std::vector<std::string> argv{"env"};
    const std::vector<std::string> clean = cleanEnvironment();
    argv.insert(argv.end(), clean.begin(), clean.end());
    argv.insert(argv.end(), environment.begin(), environment.end());
    argv.insert(argv.end(), launcher.begin(), launcher.end());
    if (const char* windows = windowsProgram(windowsVariable)) {
        argv.insert(argv.end(), {"wine", windows});
    } else {
        argv.push_back(linuxPath);
    }
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return argv;
}

inline std::vector<std::string> program(const char* linuxPath,
                                        const std::vector<std::string>& environment = {},
                                        const std::vector<std::string>& arguments = {}) {
    return command(linuxPath, "BLENDSPIN_WINDOWS_PROGRAM", environment, arguments);
}

inline std::vector<std::string> probe(const char* linuxPath, const std::string& text,
                                      const std::string& caption,
                                      const std::vector<std::string>& environment = {},
                                      const std::vector<std::string>& launcher = {}) {
    return command(linuxPath, "BLENDSPIN_WINDOWS_PROBE", environment, {text, caption}, launcher);
}

// The program's stderr less what freeglut prints under Wine, whose display context it cannot
// open for the screen size (the window and its drawing are not affected).
inline std::string unexpectedErrorOutput(const std::string& errorOutput) {
    if (!underWine()) return errorOutput;
    std::istringstream lines(errorOutput);
    std::string line;
    std::string rest;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // Windows line ends
        if (line.find("CreateDC failed, Screen size info may be incorrect") != std::string::npos ||
            line == "This is quite likely caused by a bad '-display' parameter") {
            continue;
        }
        rest += line + "\n";
    }
    return rest;
}

}  // namespace program_command
