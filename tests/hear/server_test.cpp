// robotas-hear on port 10500, heard through the robot's own client, words spoken by espeak-ng.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "platform/socket.h"
#include "speech/client1.h"
#include "tests/hear/hear_sound.h"
#include "tests/support/robot_test.h"

namespace {

using heartest::silence;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers' builds of robotas-hear compare a long word with the word
// templates many times slower: seven seconds for one unknown word.
constexpr int kWordTimeoutMs = 30000;
#else
constexpr int kWordTimeoutMs = 8000;
#endif

// robotas-hear --pcm in the test's folder, its standard input a pipe.
struct ListeningHear {
    ListeningHear() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) return;
        const int out = open("hear.out", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        pid = robotest::spawnProgram("robotas-hear", {"--pcm"}, out, out, ends[0]);
        close(out);
        close(ends[0]), input = ends[1];
        signal(SIGPIPE, SIG_IGN);  // writing to a recogniser that has ended must fail, not end the test
        listening = pid > 0 && robotest::waitUntil([&] { return said() || (waitForExit(0), pid < 0); }, 10000) && said();
    }
    ~ListeningHear() {
        close(input);
        if (pid > 0) kill(pid, SIGTERM), waitpid(pid, nullptr, 0);
    }
    static std::string output() { return robotest::readFile("hear.out"); }
    static bool said() { return output().find("listening on") != std::string::npos; }
    bool play(const hear::Samples& samples) {  // raw PCM to its standard input
        return write(input, samples.data(), samples.size() * 2) == static_cast<ssize_t>(samples.size() * 2);
    }
    int waitForExit(int timeoutMs) {  // its exit status, or -1 while it runs
        int code = 0;
        if (pid > 0 && robotest::waitUntil([&] { return waitpid(pid, &code, WNOHANG) == pid; }, timeoutMs))
            pid = -1, status = WIFEXITED(code) ? WEXITSTATUS(code) : -1;
        return pid > 0 ? -1 : status;
    }
    pid_t pid = -1;
    int input = -1, status = -1;
    bool listening = false;
};

struct RobotEar {
    RobotEar() : sd(do_connect("localhost", 10500)) {}
    ~RobotEar() { if (sd > 1) platform::closeSocket(sd); }
    std::string nextWord(int timeoutMs) {  // the word of the next result that brings one, or ""
        recognisedWord()[0] = '\0';
        robotest::waitUntil([&] {
            if (platform::waitReadable(sd, 0) == 1) do_output(sd);
            return recognisedWord()[0] != '\0';
        }, timeoutMs);
        return recognisedWord();
    }
    bool waitForLine(const std::string& prefix, int timeoutMs, std::vector<std::string>* seen = nullptr) {
        char line[kRecogniserLineSize];
        return robotest::waitUntil([&] {
            if (platform::waitReadable(sd, 0) != 1 || !do_receive(sd, line, kRecogniserLineSize)) return false;
            if (seen) seen->push_back(line);
            return std::strncmp(line, prefix.c_str(), prefix.size()) == 0;
        }, timeoutMs);
    }
    const int sd;
};

hear::Samples said(double before, const std::string& voice, const std::string& text, double after) {
    hear::Samples all = silence(before), word = heartest::spoken(voice, text), rest = silence(after);
    EXPECT_FALSE(word.empty()) << "espeak-ng did not speak " << text;
    all.insert(all.end(), word.begin(), word.end()), all.insert(all.end(), rest.begin(), rest.end());
    return all;
}

// One recogniser through a whole session.
TEST(HearServer, PausedWordsAreDroppedUnknownWordsRejectedAndUnrulyClientsDoNotStickIt) {
    robotest::ScopedWorkDir dir;
    ListeningHear recogniser;
    ASSERT_TRUE(recogniser.listening) << recogniser.output();
    {
        RobotEar robot;
        ASSERT_TRUE(robot.sd > 1);
        komanda_pause_recog(robot.sd), komanda_get_status(robot.sd);
        ASSERT_TRUE(robot.waitForLine("<SYSINFO PROCESS=\"SLEEP\"", kWordTimeoutMs));
        // More silence after it than a pipe holds: once written, the word has been judged.
        ASSERT_TRUE(recogniser.play(said(0.5, "lt", "sveikas", 4.5)));
        komanda_resume_recog(robot.sd);
        ASSERT_TRUE(robot.waitForLine("<INPUT STATUS=\"LISTEN\"", kWordTimeoutMs));
        ASSERT_TRUE(recogniser.play(said(1.0, "lt", "surask", 1.0)));
        EXPECT_EQ(robot.nextWord(kWordTimeoutMs), "SURASK");
        ASSERT_TRUE(recogniser.play(said(0.5, "lt", "kompiuteris", 1.0)));
        std::vector<std::string> lines;
        ASSERT_TRUE(robot.waitForLine("<RECOG", kWordTimeoutMs, &lines));
        EXPECT_EQ(lines.back(), "<RECOGFAIL/>");
    }
    for (int i = 0; i < 20; ++i) {
        RobotEar passer;
        ASSERT_TRUE(passer.sd > 1) << "connection " << i;
        if (i % 2) do_send(passer.sd, "PAU");  // gone in the middle of a command
    }
    RobotEar robot;
    ASSERT_TRUE(robot.sd > 1);
    for (const char* piece : {"STA", "TUS\r", "\nVERSION\r\n"}) do_send(robot.sd, piece);
    // A new client finds recognition running, whatever the last one left.
    EXPECT_TRUE(robot.waitForLine("<SYSINFO PROCESS=\"ACTIVE\"", kWordTimeoutMs));
    EXPECT_TRUE(robot.waitForLine("<ENGINEINFO TYPE=\"robotas-hear\"", kWordTimeoutMs));
    do_send(robot.sd, "DEACTIVATEGRAM\n5\n");
    EXPECT_TRUE(robot.waitForLine("<GRAMMAR STATUS=\"ERROR\"", kWordTimeoutMs));
    komanda_die(robot.sd);
    EXPECT_EQ(recogniser.waitForExit(3000), 0);
}

}  // namespace
