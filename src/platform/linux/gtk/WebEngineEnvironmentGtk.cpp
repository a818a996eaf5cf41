#include "WebEngineEnvironmentGtk.h"

#include <fcntl.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "../../WebEngineEnvironment.h"
#include "../support/Owned.h"

namespace platform {

namespace {

constexpr const char* kDisableSandbox = "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS";
constexpr const char* kDisableDmabuf = "WEBKIT_DISABLE_DMABUF_RENDERER";
constexpr const char* kNvidiaDriverFile = "/proc/driver/nvidia/version";
// A probe that has not answered by then counts as refused: the sandbox would hang as well.
constexpr auto kProbeTimeLimit = std::chrono::seconds(5);

// The steps of the probe, in the order the sandbox's launcher takes them.
enum ProbeStep : int { kUserNamespace = 1, kUserMap, kPrivateMounts };

const char* stepName(int step) {
    switch (step) {
        case kUserNamespace:
            return "a user namespace";
        case kUserMap:
            return "a user map in its namespace";
        case kPrivateMounts:
            return "private mounts in its namespace";
        default:
            return "its sandbox";
    }
}

// In the child only, between fork and _exit: calls that are safe there.
bool writeFile(const char* path, const char* text) {
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    auto length = static_cast<ssize_t>(std::strlen(text));
    bool written = ::write(fd, text, static_cast<size_t>(length)) == length;
    support::FileDescriptor(fd).reset();
    return written;
}

[[noreturn]] void probeInChild(int report, const char* uidMap, const char* gidMap) {
    int step = kUserNamespace;
    bool ok = ::unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0;
    if (ok) {
        step = kUserMap;
        ok = writeFile("/proc/self/setgroups", "deny") && writeFile("/proc/self/uid_map", uidMap) &&
             writeFile("/proc/self/gid_map", gidMap);
    }
    if (ok) {
        step = kPrivateMounts;
        ok = ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }
    int answer[2] = {ok ? 0 : step, ok ? 0 : errno};
    (void)!::write(report, answer, sizeof answer);
    ::_exit(0);
}

}  // namespace

namespace engine {

std::optional<std::string> sandboxRefusal() {
    char uidMap[64], gidMap[64];
    std::snprintf(uidMap, sizeof uidMap, "%u %u 1\n", ::getuid(), ::getuid());
    std::snprintf(gidMap, sizeof gidMap, "%u %u 1\n", ::getgid(), ::getgid());
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return std::string("no pipe for the probe");
    support::FileDescriptor reading(ends[0]), writing(ends[1]);
    pid_t child = ::fork();
    if (child < 0) return std::string("no process for the probe: ") + std::strerror(errno);
    if (child == 0) probeInChild(writing.get(), uidMap, gidMap);
    (void)writing.reset();

    // The answer, or the end of the child (its end of the pipe closes), wakes this at once.
    pollfd wait{reading.get(), POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&wait, 1, static_cast<int>(kProbeTimeLimit.count() * 1000));
    } while (ready < 0 && errno == EINTR);
    int answer[2] = {-1, 0};
    bool answered = ready == 1 && ::read(reading.get(), answer, sizeof answer) == sizeof answer;
    if (ready != 1) ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (ready != 1) return std::string("the probe of its sandbox did not answer");
    if (!answered) return std::string("the probe of its sandbox ended without an answer");
    if (answer[0] == 0) return std::nullopt;
    std::string why = answer[1] == ENOSPC ? "the system's limit of user namespaces is reached"
                                          : std::strerror(answer[1]);
    return std::string("this system does not let it make ") + stepName(answer[0]) + " (" + why +
           ")";
}

std::string chooseRendering(const std::string& nvidiaDriverFile) {
    if (const char* own = std::getenv(kDisableDmabuf)) {
        return std::string(std::strcmp(own, "0") == 0 ? "with" : "without") +
               " the DMA-BUF renderer, as " + kDisableDmabuf + "=" + own +
               " in the environment asks";
    }
    std::ifstream driver(nvidiaDriverFile);
    std::string version;
    if (!driver || !std::getline(driver, version)) return "with the default renderer";
    ::setenv(kDisableDmabuf, "1", 1);
    return "without the DMA-BUF renderer, which shows blank pages with NVIDIA's proprietary "
           "driver (" +
           version + ")";
}

}  // namespace engine

const WebEngineEnvironment::Choices& WebEngineEnvironment::choose() {
    static const Choices choices = [] {
        Choices made;
        if (const char* own = std::getenv(kDisableSandbox); own && *own) {
            made.unsandboxedBecause = std::string(kDisableSandbox) + " is set in the environment";
        } else if (auto refusal = engine::sandboxRefusal()) {
            made.unsandboxedBecause = *refusal;
            ::setenv(kDisableSandbox, "1", 1);
        }
        made.rendering = engine::chooseRendering(kNvidiaDriverFile);
        return made;
    }();
    return choices;
}

std::string WebEngineEnvironment::displayDescription() {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return "no display";
    std::string kind = G_OBJECT_TYPE_NAME(display);
    const char* name = gdk_display_get_name(display);
    std::string system = kind.find("Wayland") != std::string::npos ? "Wayland"
                         : kind.find("X11") != std::string::npos   ? "X11"
                                                                   : kind;
    return system + " display " + (name ? name : "(unnamed)");
}

}  // namespace platform
