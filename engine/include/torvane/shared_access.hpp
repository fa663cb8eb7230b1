// shared_access.hpp - reading and writing the fields that two threads share.
//
// The records stay plain structs so that their layout is the interface. Every
// access to a field that another thread may touch at the same time goes
// through std::atomic_ref: release on the write that hands a record over,
// acquire on the read that takes it. Word-sized counters (bytes done, fill)
// are read relaxed: a progress display only needs a value that was written.
#pragma once

#include <atomic>

namespace torvane {

template <class T>
inline T load_acquire(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_acquire);
}

template <class T>
inline T load_relaxed(T& field) {
  return std::atomic_ref<T>(field).load(std::memory_order_relaxed);
}

template <class T, class U>
inline void store_release(T& field, U value) {
  std::atomic_ref<T>(field).store(static_cast<T>(value), std::memory_order_release);
}

template <class T, class U>
inline void store_relaxed(T& field, U value) {
  std::atomic_ref<T>(field).store(static_cast<T>(value), std::memory_order_relaxed);
}

// Sets or clears bits of a control word shared between threads.
template <class T, class U>
inline void set_bits(T& field, U bits) {
  std::atomic_ref<T>(field).fetch_or(static_cast<T>(bits), std::memory_order_acq_rel);
}

template <class T, class U>
inline void clear_bits(T& field, U bits) {
  std::atomic_ref<T>(field).fetch_and(static_cast<T>(~static_cast<T>(bits)),
                                      std::memory_order_acq_rel);
}

}  // namespace torvane
