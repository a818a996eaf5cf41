#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "../support/Files.h"
#include "../support/ScopedEnvironment.h"
#include "../support/TempHome.h"
#include "platform/Http.h"
#include "platform/MainLoop.h"
#include "platform/Process.h"
#include "platform/Status.h"
#include "platform/linux/gtk/WebEngineEnvironmentGtk.h"
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

// NVIDIA's proprietary driver gets the engine without its DMA-BUF renderer, which shows blank
// pages there; a customer's own setting, either way, is left as it is.
TEST(EngineRendering, NvidiasDriverTurnsTheDmabufRendererOffUnlessTheCustomerChose) {
    TempHome home;
    std::string driver = home / "nvidia-version";
    writeFile(driver, "NVRM version: NVIDIA UNIX x86_64 Kernel Module  550.54.14\n");
    {
        ScopedEnvironment environment;
        environment.unset("WEBKIT_DISABLE_DMABUF_RENDERER");
        EXPECT_EQ(platform::engine::chooseRendering(home / "absent"), "with the default renderer");
        EXPECT_EQ(std::getenv("WEBKIT_DISABLE_DMABUF_RENDERER"), nullptr);
        EXPECT_THAT(platform::engine::chooseRendering(driver),
                    HasSubstr("without the DMA-BUF renderer, which shows blank pages with "
                              "NVIDIA's proprietary driver (NVRM version: NVIDIA UNIX"));
        EXPECT_STREQ(std::getenv("WEBKIT_DISABLE_DMABUF_RENDERER"), "1");
    }
    ScopedEnvironment customer{{"WEBKIT_DISABLE_DMABUF_RENDERER", "0"}};
    EXPECT_EQ(platform::engine::chooseRendering(driver),
              "with the DMA-BUF renderer, as WEBKIT_DISABLE_DMABUF_RENDERER=0 in the environment "
              "asks");
    EXPECT_STREQ(std::getenv("WEBKIT_DISABLE_DMABUF_RENDERER"), "0");
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
