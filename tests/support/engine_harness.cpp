#include "tests/support/engine_harness.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "torvane/shared_access.hpp"

namespace torvane::test {
namespace {

// The callback receives only the context; the harness that owns it is found
// here. Contexts live inside their harness, so the keys stay valid.
std::mutex g_registry_mutex;
std::map<EngineContext*, EngineHarness*> g_registry;

}  // namespace

EngineHarness::EngineHarness(int max_items, int wait_ms, bool with_callback) {
  ctx_.max_items = max_items;
  ctx_.wait_ms = wait_ms;
  ctx_.callback = with_callback ? &EngineHarness::on_notice : nullptr;
  {
    std::lock_guard<std::mutex> lock(g_registry_mutex);
    g_registry[&ctx_] = this;
  }
  init_result_ = torvane_init(&ctx_, 0);
}

EngineHarness::~EngineHarness() {
  end();
  std::lock_guard<std::mutex> lock(g_registry_mutex);
  g_registry.erase(&ctx_);
}

ItemData& EngineHarness::item(int slot) { return load_acquire(ctx_.items)[slot]; }

int EngineHarness::state(int slot) { return load_acquire(item(slot).state); }

int EngineHarness::slot_count() { return load_acquire(ctx_.slot_count); }

void EngineHarness::answer(int code, Answer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[code] = std::move(answer);
}

char* EngineHarness::keep(const std::string& text, std::size_t capacity) {
  const std::size_t size = std::max(capacity, text.size() + 1);
  auto buffer = std::make_unique<char[]>(size);
  std::memset(buffer.get(), 0, size);
  std::memcpy(buffer.get(), text.data(), text.size());
  std::lock_guard<std::mutex> lock(mutex_);
  strings_.push_back(std::move(buffer));
  return strings_.back().get();
}

int EngineHarness::fill(const ItemSpec& wanted) {
  const int slot = dl_set(&ctx_);
  if (slot < 0) return -1;
  ItemData& it = item(slot);
  auto optional_text = [&](const std::optional<std::string>& text) {
    return text ? keep(*text) : nullptr;
  };
  // A slot in state 1 is the client's to fill; no engine thread reads it.
  it.run_flags = 0;
  it.data_type = wanted.data_type;
  it.referer = optional_text(wanted.referer);
  it.user_agent = optional_text(wanted.user_agent);
  it.auto_referer = wanted.auto_referer;
  it.reserved_text = nullptr;
  it.url = keep(wanted.url, TVN_URL_CAPACITY);
  it.save_path = keep(wanted.save_path, TVN_PATH_CAPACITY);
  it.extra_header = optional_text(wanted.extra_header);
  it.options = wanted.options;
  it.retry = wanted.retry;
  it.div_count = wanted.div_count;
  it.proxy = optional_text(wanted.proxy);
  it.buffer_size = wanted.buffer_size;
  return slot;
}

int EngineHarness::start(const ItemSpec& wanted, int* start_result) {
  const int slot = fill(wanted);
  if (slot < 0) return -1;
  const int result = dl_start(&ctx_, slot);
  if (start_result != nullptr) *start_result = result;
  return slot;
}

std::vector<Notice> EngineHarness::notices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notices_;
}

int EngineHarness::count(int code, int slot) const {
  std::lock_guard<std::mutex> lock(mutex_);
  int n = 0;
  for (const Notice& notice : notices_)
    if (notice.code == code && (slot < 0 || notice.slot == slot)) ++n;
  return n;
}

bool EngineHarness::wait_count(int code, int slot, int n, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    int seen = 0;
    for (const Notice& notice : notices_)
      if (notice.code == code && (slot < 0 || notice.slot == slot)) ++seen;
    return seen >= n;
  });
}

bool EngineHarness::wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

bool EngineHarness::stop_all(std::chrono::milliseconds timeout) {
  if (init_result_ != 1 || load_acquire(ctx_.items) == nullptr) return true;
  return wait_until(
      [&] {
        bool busy = false;
        for (int slot = 0; slot < slot_count(); ++slot) {
          const int s = state(slot);
          if (s < TVN_STATE_STARTED || s > TVN_STATE_DOWNLOADING) continue;
          busy = true;
          // Refused (-1) until preparation has made the arrays; asked again
          // on the next round.
          dl_stop(&item(slot), -1);
        }
        return !busy;
      },
      timeout);
}

int EngineHarness::end() {
  if (end_result_) return *end_result_;
  if (init_result_ != 1) {
    end_result_ = 0;
    return 0;
  }
  stop_all();
  end_result_ = torvane_end(&ctx_);
  return *end_result_;
}

int EngineHarness::on_notice(EngineContext* ctx, int code, int slot, int div, void* data) {
  EngineHarness* harness = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_registry_mutex);
    const auto found = g_registry.find(ctx);
    if (found != g_registry.end()) harness = found->second;
  }
  return harness != nullptr ? harness->record(code, slot, div, data) : 0;
}

int EngineHarness::record(int code, int slot, int div, void* data) {
  Notice notice{code, slot, div, {}};
  const bool has_text = (code >= TVN_NOTICE_HEAD_SENT && code <= TVN_NOTICE_GET_HEADER) ||
                        code == TVN_NOTICE_MESSAGE;
  if (has_text && data != nullptr) notice.text = static_cast<const char*>(data);
  Answer answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    notices_.push_back(notice);
    const auto found = answers_.find(code);
    if (found != answers_.end()) answer = found->second;
  }
  changed_.notify_all();
  return answer ? answer(&ctx_, slot, div, data) : 0;
}

}  // namespace torvane::test
