// Start-up and idle figures of a tray utility under an X server that runs a system tray.
//
// Starts PROGRAM (with this process's environment) and watches the X window tree until a window
// of the program's class is docked in the tray (a window below a top-level one, viewable), then
// prints the time from just before the program was started to that moment. With --idle, it then
// lets the program settle for two seconds and prints the CPU time the program used (user plus
// system, all threads) over the next SECONDS seconds, with the number of times its threads were
// switched in. The CPU time is given twice: from /proc/<pid>/stat, in clock ticks (10 ms) with
// user and system time each truncated, so that a difference of two readings can be off by up to
// two ticks; and as the sum of the threads' run times from their schedstat files, in nanoseconds.
// The program is sent SIGTERM at the end.
//
// With --no-icon it does not wait for an icon (for a desktop without a tray): the idle span then
// starts two seconds after the program was started.
//
// The tree is polled every 2 ms over one X connection of our own (a few requests per poll), so the
// figure is at most that much late and the probe takes little CPU from the program it measures.
//
// Usage: tray_probe [--idle SECONDS] [--class NAME] [--no-icon] PROGRAM [ARGS...]
// Prints lines of the form "name value"; exits 1 when the icon does not appear within 30 seconds
// or the program ends first, 2 on a usage or X connection error.
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Whether `window` carries WM_CLASS with `name` as its instance or class part.
bool hasClass(xcb_connection_t* x, xcb_window_t window, const std::string& name) {
    const xcb_get_property_cookie_t cookie =
        xcb_get_property(x, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(x, cookie, nullptr);
    if (!reply)
        return false;
    const char* value = static_cast<const char*>(xcb_get_property_value(reply));
    const int length = xcb_get_property_value_length(reply);
    bool found = false;
    // WM_CLASS is two NUL-terminated strings: instance, then class.
    for (int at = 0; at < length && !found;) {
        const std::string part(value + at, strnlen(value + at, size_t(length - at)));
        found = part == name;
        at += int(part.size()) + 1;
    }
    std::free(reply);
    return found;
}

bool isViewable(xcb_connection_t* x, xcb_window_t window) {
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(x, xcb_get_window_attributes(x, window), nullptr);
    if (!reply)
        return false;
    const bool viewable = reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return viewable;
}

std::vector<xcb_window_t> children(xcb_connection_t* x, xcb_window_t window) {
    xcb_query_tree_reply_t* reply = xcb_query_tree_reply(x, xcb_query_tree(x, window), nullptr);
    if (!reply)
        return {};
    const xcb_window_t* list = xcb_query_tree_children(reply);
    std::vector<xcb_window_t> result(list, list + xcb_query_tree_children_length(reply));
    std::free(reply);
    return result;
}

// A window of class `name` below some top-level window (that is, embedded in another client's
// window, as a docked tray icon is) that is viewable.
bool dockedIcon(xcb_connection_t* x, xcb_window_t root, const std::string& name) {
    std::vector<xcb_window_t> pending;
    for (xcb_window_t top : children(x, root))
        for (xcb_window_t child : children(x, top))
            pending.push_back(child);
    while (!pending.empty()) {
        const xcb_window_t window = pending.back();
        pending.pop_back();
        if (hasClass(x, window, name) && isViewable(x, window))
            return true;
        for (xcb_window_t child : children(x, window))
            pending.push_back(child);
    }
    return false;
}

struct Usage {
    double cpuMs = 0;                 // utime + stime of the whole process, in ms, by the tick
    double runNs = 0;                 // sum over live threads of the scheduler's run time
    long switches = 0;                // voluntary + involuntary, over live threads
    std::vector<std::string> threads; // their ids, in directory order
};

std::optional<Usage> usageOf(pid_t pid) {
    Usage usage;
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream stat(base + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return std::nullopt;
    // Fields after the command name, which ends with the last ')': state is field 3, utime 14,
    // stime 15.
    const size_t close = line.rfind(')');
    if (close == std::string::npos)
        return std::nullopt;
    std::istringstream fields(line.substr(close + 2));
    std::vector<std::string> values;
    for (std::string value; fields >> value;)
        values.push_back(value);
    if (values.size() < 13)
        return std::nullopt;
    const double ticks = std::stod(values[11]) + std::stod(values[12]);
    usage.cpuMs = ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));

    DIR* tasks = opendir((base + "/task").c_str());
    if (!tasks)
        return std::nullopt;
    while (dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string task = base + "/task/" + entry->d_name;
        std::ifstream schedstat(task + "/schedstat");
        double runNs = 0;
        if (schedstat >> runNs)
            usage.runNs += runNs;
        std::ifstream status(task + "/status");
        for (std::string statusLine; std::getline(status, statusLine);) {
            if (statusLine.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                statusLine.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                usage.switches += std::atol(statusLine.substr(statusLine.find(':') + 1).c_str());
        }
        usage.threads.push_back(entry->d_name);
    }
    closedir(tasks);
    return usage;
}

bool alive(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) == 0;
}

void stop(pid_t pid) {
    kill(pid, SIGTERM);
    const Clock::time_point start = Clock::now();
    while (alive(pid)) {
        if (millisecondsSince(start) > 5000) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

int main(int argc, char** argv) {
    double idleSeconds = 0;
    std::string className;
    bool waitForIcon = true;
    int first = 1;
    while (first + 1 < argc && argv[first][0] == '-') {
        if (std::strcmp(argv[first], "--no-icon") == 0) {
            waitForIcon = false;
            first += 1;
            continue;
        }
        if (std::strcmp(argv[first], "--idle") == 0)
            idleSeconds = std::atof(argv[first + 1]);
        else if (std::strcmp(argv[first], "--class") == 0)
            className = argv[first + 1];
        else
            break;
        first += 2;
    }
    if (first >= argc || idleSeconds < 0) {
        std::fprintf(stderr,
                     "usage: %s [--idle SECONDS] [--class NAME] [--no-icon] PROGRAM [ARGS...]\n",
                     argv[0]);
        return 2;
    }
    if (className.empty()) {
        const char* slash = std::strrchr(argv[first], '/');
        className = slash ? slash + 1 : argv[first];
    }

    xcb_connection_t* x = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(x)) {
        std::fprintf(stderr, "tray_probe: cannot connect to the X server\n");
        return 2;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(x)).data->root;

    pid_t pid = 0;
    const Clock::time_point start = Clock::now();
    const int spawned = posix_spawn(&pid, argv[first], nullptr, nullptr, argv + first, environ);
    if (spawned != 0) {
        std::fprintf(stderr, "tray_probe: cannot start %s: %s\n", argv[first],
                     std::strerror(spawned));
        return 2;
    }

    bool shown = !waitForIcon;
    while (!shown) {
        if (!alive(pid)) {
            std::fprintf(stderr, "tray_probe: %s ended before its icon appeared\n", argv[first]);
            return 1;
        }
        if (millisecondsSince(start) > 30000) {
            std::fprintf(stderr, "tray_probe: no icon after 30 s\n");
            stop(pid);
            return 1;
        }
        shown = dockedIcon(x, root, className);
        if (!shown)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (waitForIcon) {
        std::printf("icon_ms %.1f\n", millisecondsSince(start));
        std::fflush(stdout);
    }

    int result = 0;
    if (idleSeconds > 0) {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const std::optional<Usage> before = usageOf(pid);
        const Clock::time_point idleStart = Clock::now();
        std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
        const std::optional<Usage> after = usageOf(pid);
        const double spanSeconds = millisecondsSince(idleStart) / 1000;
        if (before && after) {
            std::printf("idle_seconds %.1f\n", spanSeconds);
            std::printf("idle_cpu_ms_stat %.0f\n", after->cpuMs - before->cpuMs);
            std::printf("idle_cpu_ms_sched %.2f\n", (after->runNs - before->runNs) / 1e6);
            std::printf("idle_switches %ld\n", after->switches - before->switches);
            std::printf("threads %zu\n", after->threads.size());
            // The run time of a thread that ended is lost from the per-thread figures; the same
            // threads before and after show that none did.
            std::vector<std::string> was = before->threads;
            std::vector<std::string> is = after->threads;
            std::sort(was.begin(), was.end());
            std::sort(is.begin(), is.end());
            std::printf("threads_same %d\n", was == is ? 1 : 0);
        } else {
            std::fprintf(stderr, "tray_probe: the program ended while idle\n");
            result = 1;
        }
    }
    stop(pid);
    xcb_disconnect(x);
    return result;
}
