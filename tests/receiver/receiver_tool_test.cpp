// The lumo-receiver program itself: options, --help, and a clean stop on SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>

#include "media/test_pictures.h"
#include "receiver/test_device.h"
#include "support/child_wait.h"

extern char** environ;

namespace {

TEST(ReceiverTool, HelpAndBadOptions) {
    const auto help = testpics::run(std::string(LUMO_RECEIVER_BINARY) + " --help");
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--port", "--listen", "--out", "--avi", "--frame-ms", "--http"}) {
        EXPECT_NE(help.output.find(option), std::string::npos) << option;
    }
    const auto bad = testpics::run(std::string(LUMO_RECEIVER_BINARY) + " --bogus");
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.output, "lumo-receiver: unknown option '--bogus' (see --help)\n");
    const auto noPort = testpics::run(std::string(LUMO_RECEIVER_BINARY) + " --port 70000");
    EXPECT_EQ(noPort.exitCode, 2);
}

TEST(ReceiverTool, ServesADeviceAndStopsCleanlyOnSigterm) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char port[] = "--port", zero[] = "0";
    char* argv[] = {const_cast<char*>(LUMO_RECEIVER_BINARY), port, zero, nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, LUMO_RECEIVER_BINARY, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);

    // The first line names the port: "lumo-receiver: waiting for devices on 127.0.0.1:N".
    std::FILE* lines = fdopen(out[0], "r");
    char line[256] = "";
    ASSERT_NE(fgets(line, sizeof line, lines), nullptr);
    const char* colon = strrchr(line, ':');
    ASSERT_NE(colon, nullptr) << line;
    {
        testdevice::Client device(uint16_t(atoi(colon + 1)));
        ASSERT_TRUE(device.connected());
        EXPECT_EQ(device.receive(4), "vetu");
        EXPECT_TRUE(device.send(testdevice::message(testpics::makeJpeg(8, 8, 1), 1, 8, 8)));
    }
    kill(pid, SIGTERM);
    const std::optional<int> status = waitForChild(pid, std::chrono::seconds(10));
    ASSERT_TRUE(status.has_value()) << "lumo-receiver did not stop on SIGTERM";
    fclose(lines);
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
}

}  // namespace
