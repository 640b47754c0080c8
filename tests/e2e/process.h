// Starting the show (and Xvfb) as real processes, with a bounded wait for each.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct ChildResult {
    int exitCode = -1;  // -1 when killed by a signal or still running at the deadline
    bool timedOut = false;
    std::string stdErr;
};

class Child {
public:
    // Starts `argv` in `workDir` with the current environment plus `env` ("" as a value removes it).
    Child(const std::vector<std::string>& argv, const std::string& workDir,
          const std::map<std::string, std::string>& env, bool captureStderr = false);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running();
    // Waits up to `seconds`; on time-out kills the process and reports it.
    ChildResult wait(double seconds);
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int stderrFd_ = -1;
    std::optional<int> status_;
    std::string stderrText_;
    void drain();
};

// A private X server for one test, with a 640x480 screen so a desktop-sized window is the show's size.
class XServer {
public:
    XServer();
    ~XServer();
    bool ok() const { return ok_; }
    const std::string& display() const { return display_; }

private:
    std::unique_ptr<Child> server_;
    std::string display_;
    bool ok_ = false;
};

// Runs a command to completion and returns its standard output (bounded wait).
std::string runCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                       double seconds = 10);

// What a window manager sends when the user clicks the close button (WM_DELETE_WINDOW).
bool sendCloseRequest(const std::string& display, const std::string& window);
