#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// A program started by a test, killed when the object goes if it still runs.
// Its stderr goes to a temporary file that `errorOutput` reads back.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& workingDirectory = "");
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    bool running();
    // True once the process has ended, waiting at most `timeout` for it.
    bool waitForExit(std::chrono::milliseconds timeout);
    void terminate();

    bool exitedNormally() const;
    int exitCode() const;
    bool killedBySignal() const;
    int signalNumber() const;
    std::string errorOutput() const;
    // What went wrong with a program meant to run until stopped or to exit with code 0: a
    // sanitizer report, a signal or another exit code; "" when nothing did.
    std::string fault();

private:
    bool reap(bool block);

    pid_t pid_ = -1;
    int status_ = 0;
    bool reaped_ = false;
    std::string errorPath_;
};

// The kind of sanitizer report in a program's stderr, or "" when it holds none.
std::string sanitizerReport(const std::string& errorOutput);
