// torvane-get as a user runs it: the built program in a folder of its own
// against loopback servers, judged by its exit status and the files it leaves.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "tests/support/http_replies.h"
#include "tests/support/real_peers.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"

namespace torvane::test {
namespace {

constexpr auto kRunLimit = std::chrono::seconds(120);

class GetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(home_.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(work_.c_str(), 0755), 0);
  }

  // Starts the program in the work folder with its own program folder. The
  // power services are never called: a shutdown only says what it would do.
  void start(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/usr/bin/env",         "-C",
                                     work_,                  "TORVANE_HOME=" + home_,
                                     "TORVANE_POWER=dry-run", TORVANE_GET_PATH,
                                     "--home",               home_};
    argv.insert(argv.end(), args.begin(), args.end());
    process_.start(argv, log_);
  }
  // Runs the program to its end; its exit status (-1 when it overran).
  int run(const std::vector<std::string>& args) {
    write_file(log_, "");
    start(args);
    return process_.wait_exit(kRunLimit);
  }
  std::string log() const { return read_file(log_).value_or(""); }

  TempDir dir_;
  const std::string home_ = dir_ / "home";
  const std::string work_ = dir_ / "work";
  const std::string log_ = dir_ / "get.log";
  ChildProcess process_;
};

TEST_F(GetTest, BadUsageExitsTwoWithAMessage) {
  write_file(dir_ / "urls.txt", "nothing to fetch here\n");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"-d", "99", "http://127.0.0.1:1/a"},
      {"file:///etc/passwd"},
      {"-i", dir_ / "missing.txt"},
      {"-i", dir_ / "urls.txt"},
  };
  for (const auto& args : cases) {
    const std::string label = args.empty() ? "(no arguments)" : args.back();
    EXPECT_EQ(run(args), 2) << label;
    EXPECT_NE(log().find("torvane-get: "), std::string::npos) << label << "\n" << log();
  }
  EXPECT_FALSE(path_exists(work_ + "/test.tvn"));
  EXPECT_EQ(run({"--help"}), 0);
}

TEST_F(GetTest, TwentyPatternFilesFromNginxArriveWhole) {
  const std::string www = dir_ / "www";
  ASSERT_EQ(::mkdir(www.c_str(), 0755), 0);
  std::vector<std::string> names, contents;
  for (int i = 1; i <= 20; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "f%02d.bin", i);
    // A byte, a few hundred, odd sizes around a division, and a few MB.
    const std::size_t size = i == 1 ? 1 : i == 2 ? 700 : i % 6 == 0 ? 3'000'000 + i : 37'003 * i;
    names.push_back(name);
    contents.push_back(pattern_bytes(size, static_cast<std::uint32_t>(i)));
    ASSERT_TRUE(write_file(www + "/" + name, contents.back()));
  }
  RealPeer nginx("nginx", www);
  if (!nginx.ok()) {
    if (peers_required()) FAIL() << nginx.error();
    GTEST_SKIP() << nginx.error();
  }
  const std::string out = dir_ / "out";
  ASSERT_EQ(run({"-d", "8", "-j", "2", "-e", "-o", out, nginx.url("/f[01-20].bin")}), 0) << log();
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::optional<std::string> got = read_file(out + "/" + names[i]);
    ASSERT_TRUE(got.has_value()) << names[i];
    EXPECT_TRUE(*got == contents[i])
        << names[i] << ": " << got->size() << " bytes of " << contents[i].size();
  }
  EXPECT_NE(log().find("20 finished, 0 failed"), std::string::npos) << log();
}

TEST_F(GetTest, MissingFilesFailWithExitOne) {
  ScriptedServer server;  // 404 for everything
  EXPECT_EQ(run({"-o", "out", server.url("/a.bin"), server.url("/b.bin")}), 1) << log();
  EXPECT_NE(log().find("0 finished, 2 failed"), std::string::npos) << log();
  // The failed items stay listed, so the same command tries them again.
  EXPECT_TRUE(path_exists(work_ + "/test.tvn"));
  const std::size_t requests = server.request_count();
  EXPECT_EQ(run({"-o", "out", server.url("/a.bin"), server.url("/b.bin")}), 1) << log();
  EXPECT_GT(server.request_count(), requests);
  EXPECT_NE(log().find("0 finished, 2 failed"), std::string::npos) << log();
}

TEST_F(GetTest, ExistingFilesHistoryAndShutdownAfterTheLastDownload) {
  const auto body = std::make_shared<const std::string>(pattern_bytes(30'000, 4));
  ScriptedServer server(serve_resource(body));
  ASSERT_TRUE(write_file(home_ + "/Torvane.ini", "[SETTING]\nHowtoSD=2\n"));
  const std::vector<std::string> get = {"-o", "out", server.url("/a.bin")};
  ASSERT_EQ(run(get), 0) << log();
  EXPECT_EQ(log().find("dry-run"), std::string::npos);  // no shutdown unless asked for
  // A file of that name is there now: the error policy fails the download.
  std::vector<std::string> args = {"--exist", "error"};
  args.insert(args.end(), get.begin(), get.end());
  EXPECT_EQ(run(args), 1) << log();
  args = {"--exist", "rename-old", "--history", "--shutdown"};
  args.insert(args.end(), get.begin(), get.end());
  ASSERT_EQ(run(args), 0) << log();
  EXPECT_NE(log().find("dry-run: power off\n"), std::string::npos) << log();
  EXPECT_EQ(read_file(work_ + "/out/a.bin"), *body);
  EXPECT_NE(read_file(work_ + "/tvnlog.txt").value_or("").find("Filename: a.bin\tDivide: 1"),
            std::string::npos);
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(work_ + "/out")) {
    files += entry.is_regular_file() ? 1 : 0;
  }
  EXPECT_EQ(files, 2);  // the earlier file was moved aside, not overwritten
}

TEST_F(GetTest, JobsOptionLimitsTheDownloadsAtOnce) {
  const auto body = std::make_shared<const std::string>(pattern_bytes(50'000, 3));
  const auto gate = std::make_shared<Gate>();
  ScriptedServer server([=](const HttpRequest& r) {
    HttpReply reply = resource_reply(r, body);
    reply.gate = gate;  // every answer waits after its header
    reply.gate_at = reply.head.size();
    return reply;
  });
  start({"-j", "2", "-o", "out", server.url("/a"), server.url("/b"), server.url("/c")});
  ASSERT_TRUE(server.wait_for_requests(2, std::chrono::seconds(20))) << log();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::set<std::string> targets;
  for (const HttpRequest& r : server.requests()) targets.insert(r.target);
  EXPECT_EQ(targets, (std::set<std::string>{"/a", "/b"}));
  gate->open();
  EXPECT_EQ(process_.wait_exit(kRunLimit), 0) << log();
  EXPECT_EQ(read_file(work_ + "/out/c"), *body);
}

TEST_F(GetTest, InterruptedRunResumesWhereItStopped) {
  const auto body = std::make_shared<const std::string>(pattern_bytes(2'000'000, 9));
  const auto gate = std::make_shared<Gate>();
  constexpr std::size_t kHeldAt = 300'000;
  ScriptedServer server([=](const HttpRequest& r) {
    HttpReply reply = resource_reply(r, body);
    if (r.method == "GET" && !gate->is_open()) {
      reply.gate = gate;
      reply.gate_at = reply.head.size() + kHeldAt;
    }
    return reply;
  });
  const std::vector<std::string> command = {"-d", "2", "-o", "out", server.url("/big.bin")};
  start(command);
  // Interrupted once both divisions have bytes in the file (division 1
  // starts half-way), so each has something to resume from.
  const auto landed = [&](std::size_t at) {
    const std::optional<std::string> part = read_file(work_ + "/out/big.bin");
    return part && part->size() >= at + 1000 && part->compare(at, 1000, *body, at, 1000) == 0;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!(landed(0) && landed(1'000'000)) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(landed(0) && landed(1'000'000)) << log();
  const auto interrupted_at = std::chrono::steady_clock::now();
  process_.send_signal(SIGINT);
  EXPECT_EQ(process_.wait_exit(std::chrono::seconds(20)), 130) << log();
  // Ctrl-C is acted on at once, not after the held connections time out.
  EXPECT_LT(std::chrono::steady_clock::now() - interrupted_at, std::chrono::seconds(3));
  EXPECT_TRUE(path_exists(work_ + "/test.tvn"));

  gate->open();
  const std::size_t first_run = server.request_count();
  ASSERT_EQ(run(command), 0) << log();
  const std::optional<std::string> got = read_file(work_ + "/out/big.bin");
  ASSERT_TRUE(got.has_value());
  EXPECT_TRUE(*got == *body) << got->size() << " bytes";
  // The second run asks only for what was missing, for both divisions.
  const std::vector<HttpRequest> requests = server.requests();
  int gets = 0;
  for (std::size_t i = first_run; i < requests.size(); ++i) {
    if (requests[i].method != "GET") continue;
    ++gets;
    EXPECT_GT(requests[i].range_start(), 0) << requests[i].raw;
  }
  EXPECT_GE(gets, 2);
}

}  // namespace
}  // namespace torvane::test
