// dl_resume: which states it refuses, how a saved record is prepared again
// on its own arrays, and which divisions it puts back to work, judged by the
// ranges the engine then asks the server for.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/engine_harness.h"
#include "tests/support/http_replies.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"
#include "torvane/shared_access.hpp"

namespace torvane::test {
namespace {

using namespace std::chrono_literals;

// A stopped item as the client keeps it for a later resume.
struct Saved {
  std::string url;
  std::string path;
  std::vector<std::int32_t> status;
  std::vector<std::uint32_t> done;
  std::uint32_t range = 1000;  // every division's range length
  int retry = 3;
};

template <class T>
T* shared_array(const std::vector<T>& values) {
  auto* p = static_cast<T*>(GetMem(static_cast<unsigned>(sizeof(T) * (values.size() + 1))));
  std::copy(values.begin(), values.end(), p);
  return p;
}

// Reserves a slot and fills it the way the client restores a saved record:
// state 0, its arrays on the shared heap (the engine releases them when the
// item ends), an owner left from an earlier run.
int restore(EngineHarness& h, const Saved& s) {
  const int slot = dl_set(&h.ctx());
  if (slot < 0) return -1;
  const int n = static_cast<int>(s.status.size());
  ItemData& it = h.item(slot);
  it.data_type = TVN_DATA_HTTP;
  it.url = h.keep(s.url, TVN_URL_CAPACITY);
  it.save_path = h.keep(s.path);
  it.retry = s.retry;
  it.div_count = n;
  it.buffer_size = 40000 * n;
  it.div_status = shared_array(s.status);
  it.div_retries = shared_array(std::vector<std::int32_t>(n, s.retry));
  it.div_stop = shared_array(std::vector<std::int32_t>(n + 1, 0));
  it.conn.sockets = shared_array(std::vector<std::int32_t>(n, -1));
  it.disk.file_size = s.range * static_cast<std::uint32_t>(n);
  it.disk.range_len = shared_array(std::vector<std::uint32_t>(n, s.range));
  it.disk.range_done = shared_array(s.done);
  it.disk.buf_fill = shared_array(std::vector<std::int32_t>(n, 0));
  it.owner = reinterpret_cast<EngineContext*>(alignof(EngineContext) * 5);
  store_release(it.state, TVN_STATE_EMPTY);
  return slot;
}

// What a failed resume leaves in the slot is the client's to release.
void release_arrays(ItemData& it) {
  FreeMem(&it.div_status);
  FreeMem(&it.div_retries);
  FreeMem(&it.div_stop);
  FreeMem(&it.conn.sockets);
  FreeMem(&it.disk.range_len);
  FreeMem(&it.disk.range_done);
  FreeMem(&it.disk.buf_fill);
  FreeMem(&it.disk.buf_ptr);
  FreeMem(&it.disk.buf_block);
  FreeMem(&it.conn.host);
  FreeMem(&it.request_path);
}

std::vector<std::int64_t> range_starts(const ScriptedServer& server) {
  std::vector<std::int64_t> starts;
  for (const HttpRequest& r : server.requests()) starts.push_back(r.method == "GET" ? r.range_start() : -2);
  std::sort(starts.begin(), starts.end());
  return starts;
}

class Resume : public testing::Test {
 protected:
  TempDir dir_;
  std::shared_ptr<const std::string> content_ = std::make_shared<const std::string>(pattern_bytes(4000, 9));
  ScriptedServer server_{[](const HttpRequest&) { return HttpReply::silence(); }};
  EngineHarness h_{3};
};

TEST_F(Resume, RefusedWhileReservedStartingOrProbingAndWithoutArrays) {
  const int reserved = dl_set(&h_.ctx());
  EXPECT_EQ(dl_resume(&h_.ctx(), reserved, -1), -1);
  EXPECT_EQ(h_.state(reserved), TVN_STATE_RESERVED);
  EXPECT_EQ(dl_resume(&h_.ctx(), reserved + 1, -1), -1) << "an empty slot without arrays";
  store_release(h_.item(reserved).state, TVN_STATE_EMPTY);

  // Hold the connection thread so that a started item stays in state 2.
  set_bits(h_.ctx().conn_thread_ctl, TVN_CTL_STOP);
  ASSERT_TRUE(EngineHarness::wait_until(
      [&] { return (load_acquire(h_.ctx().conn_thread_ctl) & TVN_CTL_STOP_OK) != 0; }, 3s));
  ItemSpec s;
  s.url = server_.url("/p.bin");
  s.save_path = dir_ / "p.bin";
  const int slot = h_.start(s);
  ASSERT_EQ(h_.state(slot), TVN_STATE_STARTED);
  EXPECT_EQ(dl_resume(&h_.ctx(), slot, -1), -1);
  clear_bits(h_.ctx().conn_thread_ctl, TVN_CTL_STOP | TVN_CTL_STOP_OK);

  ASSERT_TRUE(server_.wait_for_requests(1, 3s));
  ASSERT_EQ(h_.state(slot), TVN_STATE_PROBING);
  EXPECT_EQ(dl_resume(&h_.ctx(), slot, -1), -1);
  EXPECT_EQ(dl_resume(&h_.ctx(), 3, -1), -1);
  EXPECT_EQ(dl_resume(&h_.ctx(), -1, -1), -1);
}

TEST_F(Resume, ASavedRecordAsksOnlyForWhatIsMissingAndCompletes) {
  server_.set_handler(serve_resource(content_));
  // The bytes written before the stop are in the file; the rest is not.
  std::string before(4000, '\0');
  before.replace(0, 1000, content_->substr(0, 1000));
  before.replace(1000, 200, content_->substr(1000, 200));
  before.replace(3000, 500, content_->substr(3000, 500));
  const std::string path = dir_ / "resumed.bin";
  ASSERT_TRUE(write_file(path, before));

  // Finished, failed, sent but never answered, and receiving when stopped.
  const int slot = restore(h_, {server_.url("/f.bin"), path, {2, 3, 1, 150}, {1000, 200, 0, 500}});
  ASSERT_GE(slot, 0);
  ASSERT_EQ(dl_resume(&h_.ctx(), slot, -1), 0);
  EXPECT_EQ(load_acquire(h_.item(slot).owner), &h_.ctx());
  EXPECT_EQ(h_.count(TVN_NOTICE_OPEN_FILE, slot), 1);

  ASSERT_TRUE(h_.wait_notice(TVN_NOTICE_SLOT_FREE, slot, 5s));
  EXPECT_EQ(h_.count(TVN_NOTICE_FINISHED, slot), 1);
  EXPECT_EQ(range_starts(server_), (std::vector<std::int64_t>{1200, 2000, 3500}))
      << "no HEAD, nothing for the finished division, each other from its current position";
  EXPECT_EQ(read_file(path), *content_);
}

TEST_F(Resume, OneDivisionOnly) {
  const std::string path = dir_ / "one.bin";
  const int slot = restore(h_, {server_.url("/f.bin"), path, {3, 3, 3}, {0, 40, 0}});
  ASSERT_EQ(dl_resume(&h_.ctx(), slot, 1), 0);
  ASSERT_TRUE(server_.wait_for_requests(1, 3s));
  std::this_thread::sleep_for(150ms);  // time enough for a wrong second request
  EXPECT_EQ(range_starts(server_), (std::vector<std::int64_t>{1040}));
  EXPECT_EQ(load_acquire(h_.item(slot).div_status[0]), TVN_DIV_FAILED);
  EXPECT_EQ(load_acquire(h_.item(slot).div_status[2]), TVN_DIV_FAILED);
  EXPECT_EQ(dl_resume(&h_.ctx(), slot, 3), -1) << "no division 3";
}

// On a running item only failed divisions are asked again: one that is
// waiting or receiving keeps its connection, a finished one stays finished.
TEST_F(Resume, ARunningItemRetriesOnlyItsFailedDivisions) {
  auto asked = std::make_shared<std::map<std::int64_t, int>>();  // server thread only
  server_.set_handler([asked, content = content_](const HttpRequest& r) {
    const std::int64_t start = r.range_start();
    const int times = ++(*asked)[start];
    if (start == 1000 && times == 1) return status_reply(404, "Not Found", "gone");
    if (start == 2000) return resource_reply(r, content);
    return HttpReply::silence();
  });
  const std::string path = dir_ / "running.bin";
  Saved s{server_.url("/f.bin"), path, {0, 0, 0}, {0, 0, 0}};
  s.retry = 1;  // the 404 fails division 1 at once
  const int slot = restore(h_, s);
  ASSERT_EQ(dl_resume(&h_.ctx(), slot, -1), 0);
  ItemData& it = h_.item(slot);
  ASSERT_TRUE(EngineHarness::wait_until(
      [&] {
        return load_acquire(it.div_status[1]) == TVN_DIV_FAILED &&
               load_acquire(it.div_status[2]) == TVN_DIV_DONE &&
               load_acquire(it.div_status[0]) == TVN_DIV_SENT;
      },
      5s));
  const std::intptr_t file = it.disk.file;

  ASSERT_EQ(dl_resume(&h_.ctx(), slot, -1), 0);
  ASSERT_TRUE(server_.wait_for_requests(4, 3s));
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(range_starts(server_), (std::vector<std::int64_t>{0, 1000, 1000, 2000}));
  EXPECT_EQ(h_.count(TVN_NOTICE_OPEN_FILE, slot), 2) << "301 again, the open file kept";
  EXPECT_EQ(it.disk.file, file);
  EXPECT_EQ(load_acquire(it.div_status[2]), TVN_DIV_DONE);
}

TEST_F(Resume, APreparationFailureFailsTheItem) {
  const std::string path = dir_ / "kept.bin";
  ASSERT_TRUE(write_file(path, "earlier bytes"));
  const int slot = restore(h_, {"https://127.0.0.1/f.bin", path, {3}, {13}});
  EXPECT_EQ(dl_resume(&h_.ctx(), slot, -1), -1);
  EXPECT_EQ(h_.state(slot), TVN_STATE_FAILED);
  EXPECT_EQ(h_.count(TVN_NOTICE_FAILED, slot), 1);
  EXPECT_EQ(h_.item(slot).disk.file, 0) << "the file is closed again";
  EXPECT_EQ(read_file(path), "earlier bytes");
  release_arrays(h_.item(slot));
  store_release(h_.item(slot).state, TVN_STATE_EMPTY);
}

}  // namespace
}  // namespace torvane::test
