// torvane-get as a user runs it: the built program in a folder of its own
// against loopback servers, judged by its exit status and the files it leaves.
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "tests/support/http_replies.h"
#include "tests/support/real_peers.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;
using ::testing::HasSubstr;
using Args = std::vector<std::string>;

class GetTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(std::filesystem::create_directory(work_)); }
  // Starts the program in the work folder; the test folder is its program
  // folder. The power services are never called: a shutdown only says what
  // it would do.
  ChildProcess& start(Args args, const Args& env = {}) {
    write_file(log_, "");
    process_.start(command(std::move(args), env), log_);
    return process_;
  }
  // The command line start() runs, for a second process of the program:
  // without a proxy from the test's own environment, with `env` ("NAME=value").
  Args command(Args args, const Args& env = {}) const {
    Args line = {"/usr/bin/env", "-u",       "http_proxy", "-u",  "no_proxy",
                 "-u",           "NO_PROXY", "-C",         work_, "TORVANE_POWER=dry-run"};
    line.insert(line.end(), env.begin(), env.end());
    line.insert(line.end(), {TORVANE_GET_PATH, "--home", dir_.path()});
    args.insert(args.begin(), line.begin(), line.end());
    return args;
  }
  // Runs the program to its end; its exit status (-1 when it overran).
  int run(const Args& args, const Args& env = {}) { return start(args, env).wait_exit(120s); }
  std::string log() const { return read_file(log_).value_or(""); }
  static std::shared_ptr<const std::string> bytes(std::size_t size, std::uint32_t seed) {
    return std::make_shared<const std::string>(pattern_bytes(size, seed));
  }
  // Serves `body`, each answer held `at` bytes into its body until `gate_` opens.
  HttpHandler serve_held(std::shared_ptr<const std::string> body, std::size_t at) const {
    return
        [=, gate = gate_](const HttpRequest& r) { return held(resource_reply(r, body), gate, at); };
  }
  template <class F>
  static bool wait_for(F done) {
    for (int i = 0; i < 750 && !done(); ++i) std::this_thread::sleep_for(20ms);
    return done();
  }

  TempDir dir_;
  const std::string work_ = dir_ / "work", out_ = work_ + "/out/", log_ = dir_ / "get.log";
  ChildProcess process_;
  const std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
};

TEST_F(GetTest, ExitStatusOfBadUsageHelpAndFailuresWithTheirReasons) {
  // No URL (checked before the list file is made) and an unreadable -i file;
  // the parser's own refusals are in the options unit test.
  for (const Args& args : {Args{}, Args{"-i", dir_ / "missing.txt"}}) {
    EXPECT_EQ(run(args), 2);
    EXPECT_THAT(log(), HasSubstr("torvane-get: "));
  }
  EXPECT_FALSE(path_exists(work_ + "/test.tvn"));
  EXPECT_EQ(run({"--help"}), 0);
  // A missing file and a refused connection fail the run, each with its
  // reason; they stay listed, so the same command tries them again.
  std::string refused;
  {
    const ScriptedServer gone;  // its port, closed again: nobody listens there
    refused = gone.url("/r.bin");
  }
  const std::string port = refused.substr(17, refused.find('/', 17) - 17);
  ScriptedServer server;  // 404 for everything
  for (int pass = 0; pass < 2; ++pass) {
    const std::size_t before = server.request_count();
    EXPECT_EQ(run({"-o", "out", server.url("/a.bin"), refused}), 1) << log();
    EXPECT_THAT(log(), HasSubstr("0 finished, 2 failed"));  // listed once, not twice
    EXPECT_THAT(log(), HasSubstr("out/a.bin  (" + server.url("/a.bin") + "): 404 Not Found\n"));
    EXPECT_THAT(log(), HasSubstr("out/r.bin  (" + refused +
                                 "): connection refused: 127.0.0.1:" + port + "\n"));
    EXPECT_GT(server.request_count(), before);
  }
}

TEST_F(GetTest, SaveFoldersThatCannotBeUsedGiveOneMessageAndStatusOne) {
  const auto body = bytes(5'000, 2);
  ScriptedServer server(serve_resource(body));
  ASSERT_TRUE(write_file(work_ + "/plain", "mine"));
  ASSERT_TRUE(std::filesystem::create_directories(work_ + "/out/a.bin"));
  struct Case {
    Args args;
    std::string said;
  } const cases[] = {
      {{"-o", "plain"}, "cannot save into 'plain': 'plain' is a file, not a folder"},
      {{"-o", "/proc/none"}, "cannot create the folder '/proc/none': "},
      // The file's own name is taken by a folder, under the default policy
      // (the engine opens the file) and under one that opens it here.
      {{"-o", "out"}, "a folder is in the way of the file: out/a.bin"},
      {{"--exist", "overwrite", "-o", "out"}, "a folder is in the way of the file: out/a.bin"},
  };
  for (const Case& c : cases) {
    Args args = c.args;
    args.push_back(server.url("/a.bin"));
    EXPECT_EQ(run(args), 1) << log();
    EXPECT_THAT(log(), HasSubstr(c.said)) << c.args[1];
    std::filesystem::remove(work_ + "/test.tvn");
  }
  EXPECT_EQ(read_file(work_ + "/plain"), "mine");
  // A missing folder, however deep, is made.
  EXPECT_EQ(run({"-o", "new/a/b", server.url("/a.bin")}), 0) << log();
  EXPECT_EQ(read_file(work_ + "/new/a/b/a.bin"), *body);
}

TEST_F(GetTest, ExistingFilesHistoryAndShutdownAfterTheLastDownload) {
  const auto body = bytes(30'000, 4);
  ScriptedServer server(serve_resource(body));
  ASSERT_TRUE(write_file(dir_ / "Torvane.ini", "[SETTING]\nHowtoSD=2\n"));
  const std::string url = server.url("/a.bin");
  ASSERT_EQ(run({"-o", "out", url}), 0) << log();
  EXPECT_THAT(log(), ::testing::Not(HasSubstr("dry-run")));  // no shutdown unless asked for
  // A file of that name is there now.
  EXPECT_EQ(run({"--exist", "error", "-o", "out", url}), 1) << log();
  EXPECT_EQ(run({"--exist", "rename-old", "--history", "--shutdown", "-o", "out", url}), 0);
  EXPECT_THAT(log(), HasSubstr("dry-run: power off\n"));
  EXPECT_EQ(read_file(out_ + "a.bin"), *body);
  // The earlier file was moved aside, not overwritten.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out_), {}), 2);
  EXPECT_THAT(read_file(work_ + "/tvnlog.txt").value_or(""),
              HasSubstr("Filename: a.bin\tDivide: 1"));
}

// A full disk ends the run rather than leaving it waiting on a resting item:
// not done, with the reason, status 1; with room, the same command finishes.
TEST_F(GetTest, FullDiskEndsTheRunAndTheSameCommandFinishesLater) {
  const auto body = bytes(200'000, 6);
  ScriptedServer server(serve_resource(body));
  ASSERT_TRUE(std::filesystem::create_directories(out_));
  ASSERT_EQ(::symlink("/dev/full", (out_ + "a.bin").c_str()), 0);
  const Args command = {"-d", "4", "-o", "out", server.url("/a.bin")};
  EXPECT_EQ(start(command).wait_exit(10s), 1) << log();
  EXPECT_THAT(log(), HasSubstr("0 finished, 0 failed, 1 not done"));
  EXPECT_THAT(log(), HasSubstr("out/a.bin: disk full: out/a.bin"));
  std::remove((out_ + "a.bin").c_str());
  EXPECT_EQ(run(command), 0) << log();
  EXPECT_EQ(read_file(out_ + "a.bin"), *body);
}

TEST_F(GetTest, InterruptedRunOfTwoAtOnceResumesWhereItStopped) {
  const auto body = bytes(2'000'000, 9);
  ScriptedServer server(serve_held(body, 300'000));
  const Args args = {
      "-j", "2", "-d", "2", "-o", "out", server.url("/a"), server.url("/b"), server.url("/c")};
  start(args);
  // A second run in the same folder waits for none and names the first; it
  // locks before it reads the list, which may not exist yet.
  ASSERT_TRUE(server.wait_for_requests(1, 10s)) << log();
  EXPECT_EQ(ChildProcess(command(args), dir_ / "second.log").wait_exit(10s), 2);
  EXPECT_THAT(read_file(dir_ / "second.log").value_or(""),
              HasSubstr("in use by process " + std::to_string(process_.pid())));
  // Interrupted once both divisions (the second starts half-way) of a and b
  // have bytes in the file, so each has something to resume from.
  const auto landed = [&](const std::string& name) {
    const std::optional<std::string> part = read_file(out_ + name);
    return part && part->size() >= 1'001'000 && part->compare(0, 1000, *body, 0, 1000) == 0 &&
           part->compare(1'000'000, 1000, *body, 1'000'000, 1000) == 0;
  };
  ASSERT_TRUE(wait_for([&] { return landed("a") && landed("b"); })) << log();
  std::this_thread::sleep_for(300ms);  // time for a third download to start, were it let
  for (const HttpRequest& r : server.requests()) EXPECT_NE(r.target, "/c");
  // Ctrl-C is acted on at once, not after the held connections time out.
  process_.send_signal(SIGINT);
  EXPECT_EQ(process_.wait_exit(3s), 130) << log();
  EXPECT_TRUE(path_exists(work_ + "/test.tvn"));

  gate_->open();
  const std::size_t first_run = server.request_count();
  ASSERT_EQ(run(args), 0) << log();
  for (const char* name : {"a", "b", "c"}) EXPECT_TRUE(read_file(out_ + name) == *body) << name;
  // The second run asks only for what was missing of the files begun.
  for (const char* name : {"/a", "/b"})
    EXPECT_THAT(
        server.get_starts(first_run, name),
        ::testing::AllOf(::testing::SizeIs(::testing::Ge(2)), ::testing::Each(::testing::Gt(0))));
  // Nothing is left queued, so nothing is left behind.
  EXPECT_FALSE(path_exists(work_ + "/test.tvn.lock") || path_exists(work_ + "/test.tvn"));
}

TEST_F(GetTest, AKilledRunResumesFromItsLastPeriodicSave) {
  constexpr std::size_t kSize = 8'000'000, kHalf = kSize / 2, kHeld = 2'000'000;
  // What may be re-fetched per division: bytes that waited in a share.
  constexpr std::size_t kSlack = 100'000;
  const auto body = bytes(kSize, 12);
  ScriptedServer server(serve_held(body, kHeld));
  const Args command = {"-d", "2", "-o", "out", server.url("/big.bin")};
  start(command);
  // The list keeps the two divisions' progress (range_len {kHalf, kHalf},
  // then range_done) once both are close to the hold.
  const auto le32 = [](std::uint32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
  };
  const std::string lengths = le32(8) + le32(kHalf) + le32(kHalf) + le32(8);
  const auto saved_near_hold = [&] {
    const std::string list = read_file(work_ + "/test.tvn").value_or("");
    const std::size_t at = list.find(lengths);
    if (at == std::string::npos || list.size() < at + lengths.size() + 8) return false;
    std::uint32_t done[2];
    std::memcpy(done, list.data() + at + lengths.size(), 8);
    return done[0] + kSlack >= kHeld && done[1] + kSlack >= kHeld;
  };
  ASSERT_TRUE(wait_for(saved_near_hold)) << log();
  process_.send_signal(SIGKILL);
  process_.wait_exit(3s);

  gate_->open();
  const std::size_t first_run = server.request_count();
  ASSERT_EQ(run(command), 0) << log();
  EXPECT_TRUE(read_file(out_ + "big.bin") == *body);
  // Each division is asked for from close to where the killed run held.
  const std::vector<std::int64_t> starts = server.get_starts(first_run);
  ASSERT_EQ(starts.size(), 2u);
  std::size_t refetched = 0;
  for (const std::int64_t start : starts) {
    const std::size_t into = static_cast<std::size_t>(start) % kHalf;
    refetched += into < kHeld ? kHeld - into : 0;
  }
  EXPECT_LE(refetched, 2 * kSlack);
}

TEST_F(GetTest, AFailureOfAnEarlierRunIsTriedAgainOnlyWhenAskedAndTheQueueListsAndForgets) {
  const auto body = bytes(20'000, 6);
  ScriptedServer server([&](const HttpRequest& r) {
    return r.target == "/gone" ? status_reply(404, "Not Found") : resource_reply(r, body);
  });
  const auto asked = [&] {
    return std::ranges::count(server.requests(), std::string("/gone"), &HttpRequest::target);
  };
  ASSERT_EQ(run({"-o", "out", server.url("/gone")}), 1) << log();
  // Another URL: the earlier failure is named, not tried, and not this run's outcome.
  const auto before = asked();
  ASSERT_EQ(run({"-o", "out", "-O", "a file.bin", server.url("/ok")}), 0) << log();
  EXPECT_THAT(log(), HasSubstr("failed earlier: out/gone"));
  EXPECT_EQ(asked(), before);
  EXPECT_TRUE(read_file(out_ + "a file.bin") == *body);
  ASSERT_EQ(run({"--list"}), 0);
  EXPECT_THAT(log(), HasSubstr(server.url("/gone")));
  // No URL and only an earlier failure: nothing to do unless asked.
  EXPECT_EQ(run({}), 2);
  EXPECT_EQ(asked(), before);
  EXPECT_EQ(run({"--retry-failed"}), 1);
  EXPECT_GT(asked(), before);

  // --forget empties the queue and names the partial file it leaves.
  ASSERT_TRUE(write_file(out_ + "gone", "part"));
  ASSERT_EQ(run({"--forget"}), 0);
  EXPECT_THAT(log(), HasSubstr("forgot 1 queued download\nthese partly downloaded files "
                               "stay:\n  out/gone\n"));
  EXPECT_FALSE(path_exists(work_ + "/test.tvn"));
  EXPECT_EQ(run({"--list"}), 0);
  EXPECT_THAT(log(), HasSubstr("nothing is queued here"));
}

TEST_F(GetTest, RequestOptionsAndTheEnvironmentsProxyReachTheRequests) {
  const auto body = bytes(50'000, 8);
  ScriptedServer server([=](const HttpRequest& r) { return resource_reply(r, body); });
  RealPeer proxy("tinyproxy", dir_.path());
  if (!proxy.ok()) {
    if (peers_required()) FAIL() << proxy.error();
    GTEST_SKIP() << proxy.error();
  }
  const Args via_proxy = {"http_proxy=http://127.0.0.1:" + std::to_string(proxy.port()) + "/"};
  ASSERT_EQ(run({"-o", "out", "-d", "2", "-U", "Agent/7", "-H", "X-Token: a b", "-H", "X-Two:2",
                 server.url("/p")},
                via_proxy),
            0)
      << log();
  EXPECT_TRUE(read_file(out_ + "p") == *body);
  EXPECT_THAT(read_file(dir_ / "tinyproxy.log").value_or(""), HasSubstr("GET " + server.url("/p")));
  std::vector<std::string> gets;
  for (const HttpRequest& r : server.requests())
    if (r.method == "GET") gets.push_back(r.raw);
  // The proxy passes the lines on in its own spelling.
  EXPECT_THAT(gets, ::testing::AllOf(::testing::SizeIs(2),
                                     ::testing::Each(::testing::AllOf(
                                         HasSubstr("User-Agent: Agent/7\r\n"),
                                         HasSubstr("X-Token: a b\r\nX-Two: 2\r\n")))));
  // no_proxy keeps the server's host away from the proxy.
  const std::size_t proxied = read_file(dir_ / "tinyproxy.log").value_or("").size();
  ASSERT_EQ(run({"-o", "out2", server.url("/p")}, {via_proxy[0], "no_proxy=127.0.0.1"}), 0);
  EXPECT_EQ(read_file(dir_ / "tinyproxy.log").value_or("").size(), proxied);
}

}  // namespace
}  // namespace torvane::test
