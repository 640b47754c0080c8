#include "process.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

pid_t spawn(const std::vector<std::string>& argv, const std::string& workDir,
            const std::map<std::string, std::string>& env, int stdoutFd, int stderrFd) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
    for (const auto& [name, value] : env) {
        if (value.empty())
            unsetenv(name.c_str());
        else
            setenv(name.c_str(), value.c_str(), 1);
    }
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(stdoutFd >= 0 ? stdoutFd : devnull, 1);
    dup2(stderrFd >= 0 ? stderrFd : devnull, 2);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

}  // namespace

Child::Child(const std::vector<std::string>& argv, const std::string& workDir,
             const std::map<std::string, std::string>& env, bool captureStderr) {
    int pipeFds[2] = {-1, -1};
    if (captureStderr && pipe(pipeFds) == 0) fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    pid_ = spawn(argv, workDir, env, -1, pipeFds[1]);
    if (pipeFds[1] >= 0) close(pipeFds[1]);
    stderrFd_ = pipeFds[0];
}

Child::~Child() {
    if (running()) {
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
    }
    if (stderrFd_ >= 0) close(stderrFd_);
}

void Child::drain() {
    if (stderrFd_ < 0) return;
    char buffer[4096];
    ssize_t n;
    while ((n = read(stderrFd_, buffer, sizeof buffer)) > 0) stderrText_.append(buffer, size_t(n));
}

bool Child::running() {
    if (status_ || pid_ <= 0) return false;
    int status;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
        return false;
    }
    return true;
}

ChildResult Child::wait(double seconds) {
    ChildResult result;
    double deadline = now() + seconds;
    while (running() && now() < deadline) {
        drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (running()) {
        result.timedOut = true;
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
        status_ = status;
    }
    drain();
    result.stdErr = stderrText_;
    if (status_ && WIFEXITED(*status_)) result.exitCode = WEXITSTATUS(*status_);
    return result;
}

XServer::XServer() {
    // Pick a display number nobody uses; tests may run in parallel.
    for (int number = 40 + getpid() % 200; number < 400; ++number) {
        std::string lock = "/tmp/.X" + std::to_string(number) + "-lock";
        struct stat st;
        if (stat(lock.c_str(), &st) == 0) continue;
        display_ = ":" + std::to_string(number);
        server_ = std::make_unique<Child>(
            std::vector<std::string>{"Xvfb", display_, "-screen", "0", "640x480x24", "-nolisten", "tcp"}, "",
            std::map<std::string, std::string>{});
        std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
        double deadline = now() + 10;
        while (now() < deadline && server_->running()) {
            if (stat(socket.c_str(), &st) == 0) {
                // Another test may have taken the same number a moment earlier: then this server
                // gives up at once and the socket is the other one's. Only a server still running
                // is ours.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                if (!server_->running()) break;
                ok_ = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        server_.reset();
    }
}

XServer::~XServer() { server_.reset(); }

std::string runCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                       double seconds) {
    int fds[2];
    if (pipe(fds) != 0) return "";
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    pid_t pid = spawn(argv, "", env, fds[1], -1);
    close(fds[1]);
    std::string out;
    double deadline = now() + seconds;
    int status = 0;
    bool done = false;
    while (!done && now() < deadline) {
        char buffer[1024];
        ssize_t n;
        while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
        if (waitpid(pid, &status, WNOHANG) == pid) done = true;
        else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!done) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    char buffer[1024];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
    close(fds[0]);
    return out;
}

bool sendCloseRequest(const std::string& display, const std::string& window) {
    ::Display* x = XOpenDisplay(display.c_str());
    if (!x) return false;
    static bool failed;
    failed = false;
    XSetErrorHandler([](::Display*, XErrorEvent*) {
        failed = true;
        return 0;
    });
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = ::Window(std::stoul(window));
    event.xclient.message_type = XInternAtom(x, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(x, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(x, event.xclient.window, False, NoEventMask, &event);
    XSync(x, False);
    XCloseDisplay(x);
    return !failed;
}
