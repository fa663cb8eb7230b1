// Shared set-up of the download behaviour tests: a scripted server, a
// running engine, a temporary save folder, and helpers that start one item
// and wait for its final notice.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "tests/support/engine_harness.h"
#include "torvane/shared_access.hpp"
#include "tests/support/http_replies.h"
#include "tests/support/scripted_server.h"
#include "tests/support/test_files.h"

namespace torvane::test {

constexpr auto kDeadline = std::chrono::seconds(10);

class DownloadTest : public ::testing::Test {
 protected:
  std::string target() const { return dir_ / "out.bin"; }

  ItemSetup item_for(const std::string& path, int divisions, std::uint32_t options = 0) const {
    ItemSetup s;
    s.url = server_.url(path);
    s.save_path = target();
    s.div_count = divisions;
    s.buffer_size = divisions * 40000;
    s.options = options;
    return s;
  }

  // Starts an item and waits for its final notice; returns that code (0 when
  // none came before the deadline).
  int run(const ItemSetup& s) {
    int started = -1;
    slot_ = engine_.start(s, &started);
    if (slot_ < 0 || started != 0) return -1;
    return wait_final(slot_);
  }
  int wait_final(int slot) { return engine_.wait_final(slot, kDeadline); }

  // Serves `body`; a GET answered while `gate` is shut stops after `at` body
  // bytes until it opens.
  void serve_gated(std::shared_ptr<const std::string> body, std::shared_ptr<Gate> gate,
                   std::size_t at) {
    server_.set_handler([=](const HttpRequest& r) {
      HttpReply reply = resource_reply(r, body);
      if (r.method == "GET" && !gate->is_open()) {
        reply.gate = gate;
        reply.gate_at = reply.head.size() + at;
      }
      return reply;
    });
  }

  std::string saved() const { return read_file(target()).value_or("<no file>"); }

  TempDir dir_;
  ScriptedServer server_;
  EngineHarness engine_{4, 20};
  int slot_ = -1;
};

inline std::shared_ptr<const std::string> content(std::size_t size, std::uint32_t seed = 7) {
  return std::make_shared<const std::string>(pattern_bytes(size, seed));
}

}  // namespace torvane::test
