#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "../support/ScopedEnvironment.h"
#include "../support/TempHome.h"
#include "PreferredCopy.h"
#include "platform/Bundle.h"
#include "platform/Http.h"
#include "platform/MainLoop.h"
#include "platform/Process.h"
#include "platform/Status.h"
#include "platform/linux/support/Owned.h"

using platform::Failure;
using platform::HttpFailure;
using ::testing::HasSubstr;
using ::testing::Optional;

namespace {

enum class OtherServiceFailure { first, second };

int g_releases = 0;
int countRelease(int) {
    ++g_releases;
    return 7;
}
using Counted = platform::support::Owned<int, countRelease, -1>;

bool isOpen(int descriptor) {
    return ::fcntl(descriptor, F_GETFD) != -1;
}

// A bundle with the given Info.plist entries and, when named, an executable file.
std::string makeBundle(const std::string& path, const std::string& version,
                       const std::string& executable, bool runnable) {
    namespace fs = std::filesystem;
    fs::create_directories(path + "/Contents/MacOS");
    std::ofstream(path + "/Contents/Info.plist")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
        << (version.empty()
                ? ""
                : "<key>CFBundleShortVersionString</key><string>" + version + "</string>")
        << "<key>CFBundleExecutable</key><string>" << executable << "</string></dict></plist>\n";
    std::string program = path + "/Contents/MacOS/" + executable;
    std::ofstream(program) << "#!/bin/sh\n";
    fs::permissions(program, runnable ? fs::perms::owner_all : fs::perms::owner_read);
    return program;
}

}  // namespace

// A caller tells failures apart by kind only within the service that made them: the same code
// of another service, or a failure without a kind, is none of its kinds.
TEST(Failures, AKindIsReadOnlyAsTheServiceThatGaveIt) {
    Failure signIn(HttpFailure::signInPage, "a sign-in page answered");
    EXPECT_THAT(signIn.kind<HttpFailure>(), Optional(HttpFailure::signInPage));
    EXPECT_TRUE(signIn.is(HttpFailure::signInPage));
    EXPECT_FALSE(signIn.is(HttpFailure::transport));

    Failure other(OtherServiceFailure::first, "another service");
    ASSERT_EQ(static_cast<int>(OtherServiceFailure::first),
              static_cast<int>(HttpFailure::transport));
    EXPECT_EQ(other.kind<HttpFailure>(), std::nullopt);
    EXPECT_FALSE(other.is(HttpFailure::transport));
    EXPECT_EQ(Failure("plain").kind<HttpFailure>(), std::nullopt);

    platform::Status status = platform::Status::failure(signIn);
    EXPECT_FALSE(status);
    EXPECT_EQ(status.errorDescription(), "a sign-in page answered");
    EXPECT_TRUE(status.failure().is(HttpFailure::signInPage));
    EXPECT_EQ(platform::Status::ok().errorDescription(), "");

    platform::Result<int> result = other;
    EXPECT_FALSE(result);
    EXPECT_EQ(result.error(), "another service");
    EXPECT_THAT(result.failure().kind<OtherServiceFailure>(), Optional(OtherServiceFailure::first));
}

// Each handle is released exactly once, by whoever holds it last; a handle given away is not
// released here at all, and the release's answer reaches the caller that asks for it.
TEST(OwnedHandles, AHandleIsReleasedOnceByItsLastOwner) {
    g_releases = 0;
    {
        Counted first(3);
        Counted second = std::move(first);
        EXPECT_FALSE(first);
        Counted third;
        third = std::move(second);
        EXPECT_EQ(g_releases, 0);
        EXPECT_EQ(third.reset(), 7);
        EXPECT_EQ(third.reset(), 0) << "nothing left to release";
        third.replace(4);
        third.replace(5);  // releases 4
        EXPECT_EQ(g_releases, 2);
        Counted given(6);
        EXPECT_EQ(given.take(), 6);
    }
    EXPECT_EQ(g_releases, 3) << "5 at the end of its owner; 6 was given away";

    int descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(descriptor, 0);
    { platform::support::FileDescriptor owner(descriptor); }
    EXPECT_FALSE(isOpen(descriptor));
}

// A worker thread gets the main thread's answer while the main loop turns; on the main thread
// the work runs at once.
TEST(MainLoop, InvokeAndWaitRunsOnTheMainThreadAndAnswers) {
    platform::MainLoop& loop = platform::MainLoop::main();
    ASSERT_TRUE(loop.isMainThread());
    EXPECT_EQ(loop.invokeAndWait([&] { return loop.isMainThread() ? 1 : 0; }), 1);

    std::atomic<bool> answered = false;
    std::string answer;
    std::thread worker([&] {
        answer = loop.invokeAndWait([&]() -> std::string {
            return loop.isMainThread() ? "from the main thread" : "elsewhere";
        });
        bool ranThere = false;
        loop.invokeAndWait([&] { ranThere = loop.isMainThread(); });
        if (!ranThere) answer = "a void call ran elsewhere";
        loop.post([&] { answered = true; });  // wakes the loop as it records the end
    });
    EXPECT_TRUE(loop.runUntil([&] { return answered.load(); }, 10));
    worker.join();
    EXPECT_EQ(answer, "from the main thread");
}

// The copy in Applications runs instead of the packaged one only when it is whole, can be run
// and is not older, compared as versions (1.10 after 1.9).
TEST(PreferredCopy, TheInstalledCopyRunsOnlyWhenWholeRunnableAndNotOlder) {
    TempHome home;
    std::string packaged = home.path() + "/opt/Orvo Tendra Kelvane.app";
    std::string installed = home.path() + "/Applications/Orvo Tendra Kelvane.app";
    makeBundle(packaged, "1.9", "OrvoTendraKelvane", true);

    EXPECT_EQ(PreferredCopy::executableInstead(packaged, installed), std::nullopt) << "none yet";
    std::string program = makeBundle(installed, "1.10", "OrvoTendraKelvane", false);
    EXPECT_EQ(PreferredCopy::executableInstead(packaged, installed), std::nullopt)
        << "cannot be run";
    program = makeBundle(installed, "1.10", "OrvoTendraKelvane", true);
    EXPECT_THAT(PreferredCopy::executableInstead(packaged, installed), Optional(program));
    EXPECT_EQ(PreferredCopy::executableInstead(installed, installed), std::nullopt);
    makeBundle(installed, "1.8.2", "OrvoTendraKelvane", true);
    EXPECT_EQ(PreferredCopy::executableInstead(packaged, installed), std::nullopt) << "older";
    makeBundle(installed, "", "OrvoTendraKelvane", true);
    EXPECT_EQ(PreferredCopy::executableInstead(packaged, installed), std::nullopt)
        << "no version: not known to be whole";

    EXPECT_LT(platform::Bundle::compareVersions("1.9", "1.10"), 0);
    EXPECT_EQ(platform::Bundle::compareVersions("2.0.1", "2.0.1"), 0);
}

TEST(Process, AVariableIsTakenOnceAndAFailedHandOverSaysWhy) {
    ScopedEnvironment environment{{"KELVANE_TEST_TAKEN", "yes"}};
    EXPECT_THAT(platform::Process::takeEnvironmentVariable("KELVANE_TEST_TAKEN"),
                Optional(std::string("yes")));
    EXPECT_EQ(platform::Process::takeEnvironmentVariable("KELVANE_TEST_TAKEN"), std::nullopt);

    std::string first = "self";
    char* argv[] = {first.data(), nullptr};
    platform::Status started = platform::Process::replaceWith("/nonexistent/program", argv);
    EXPECT_FALSE(started);
    EXPECT_THAT(started.errorDescription(), HasSubstr("No such file"));
}
