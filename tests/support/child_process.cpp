#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/support/wait_until.h"

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::string& workingDirectory) {
    char pathTemplate[] = "/tmp/child-stderr-XXXXXX";
    const int errorFd = mkstemp(pathTemplate);
    if (errorFd < 0 || argv.empty()) return;
    errorPath_ = pathTemplate;

    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    pid_ = fork();
    if (pid_ == 0) {
        // Ends with the test program even when that aborts without running destructors.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(errorFd, STDERR_FILENO);
        const int nullFd = open("/dev/null", O_RDWR);
        dup2(nullFd, STDIN_FILENO);
        dup2(nullFd, STDOUT_FILENO);
        if (!workingDirectory.empty() && chdir(workingDirectory.c_str()) != 0) _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(errorFd);
}

ChildProcess::~ChildProcess() {
    terminate();
    if (!errorPath_.empty()) unlink(errorPath_.c_str());
}

bool ChildProcess::reap(bool block) {
    if (reaped_ || pid_ <= 0) return reaped_;
    if (waitpid(pid_, &status_, block ? 0 : WNOHANG) == pid_) reaped_ = true;
    return reaped_;
}

bool ChildProcess::running() {
    return started() && !reap(false);
}

bool ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
    return pid_ > 0 && waitUntil(
                           timeout, [this] { return reap(false); }, std::chrono::milliseconds(10));
}

void ChildProcess::terminate() {
    if (!running()) return;
    kill(pid_, SIGTERM);
    if (!waitForExit(std::chrono::seconds(2))) {
        kill(pid_, SIGKILL);
        reap(true);
    }
}

bool ChildProcess::exitedNormally() const {
    return reaped_ && WIFEXITED(status_);
}

int ChildProcess::exitCode() const {
    return exitedNormally() ? WEXITSTATUS(status_) : -1;
}

bool ChildProcess::killedBySignal() const {
    return reaped_ && WIFSIGNALED(status_);
}

int ChildProcess::signalNumber() const {
    return killedBySignal() ? WTERMSIG(status_) : 0;
}

std::string ChildProcess::errorOutput() const {
    std::ifstream in(errorPath_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string sanitizerReport(const std::string& errorOutput) {
    for (const char* report : {"ERROR: AddressSanitizer", "runtime error:", "LeakSanitizer"}) {
        if (errorOutput.find(report) != std::string::npos) return report;
    }
    return "";
}

std::string ChildProcess::fault() {
    const std::string report = sanitizerReport(errorOutput());
    if (!report.empty()) return "sanitizer report: " + report;
    if (running()) return "";
    if (killedBySignal()) return "ended by signal " + std::to_string(signalNumber());
    if (exitCode() != 0) return "exit code " + std::to_string(exitCode());
    return "";
}
