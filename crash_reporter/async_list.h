#pragma once
// A doubly linked list that a signal handler can walk while other threads change it.
//
// Writers (append, prepend, remove, free) serialise on a spin lock and publish nodes with full
// barriers. Readers never lock: they count themselves in, walk `head` and `next`, and count
// themselves out. A node removed while any reader is counted in is not freed but parked on a free
// list, and its `next` link is left as it was, so a reader standing on it walks on into the live
// list instead of into freed memory or into other removed nodes. Parked nodes are reused by later
// writers only once no reader is counted in, because only then can no reader still hold one.
//
// Reading (crash_async_list_set_reading, crash_async_list_next) is safe in a signal handler.
// Writing allocates and spins on a lock and is not; a writer interrupted by a signal handler on
// its own thread must not be re-entered from that handler.

#include <atomic>
#include <cstdint>
#include <utility>

namespace crash {

template <class T>
struct crash_async_list_node {
  T value;
  std::atomic<crash_async_list_node*> next{nullptr};
  crash_async_list_node* prev = nullptr;       // writers only
  crash_async_list_node* free_next = nullptr;  // link of the free list, writers only
};

// All fields zero is the empty, unlocked list, so a list at namespace scope is ready before any
// constructor runs.
template <class T>
struct crash_async_list {
  using node = crash_async_list_node<T>;

  std::atomic<std::int32_t> lock{0};
  std::atomic<node*> head{nullptr};
  node* tail = nullptr;
  std::atomic<std::int32_t> reader_count{0};
  node* free_list = nullptr;
};

namespace async_list_detail {

template <class T>
void lock(crash_async_list<T>* list) noexcept {
  while (list->lock.exchange(1, std::memory_order_acquire) != 0) {
    while (list->lock.load(std::memory_order_relaxed) != 0) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
  }
}

template <class T>
void unlock(crash_async_list<T>* list) noexcept {
  list->lock.store(0, std::memory_order_release);
}

// Takes the lock when it is free; never waits. Safe in a signal handler.
template <class T>
bool tryLock(crash_async_list<T>* list) noexcept {
  return list->lock.exchange(1, std::memory_order_acquire) == 0;
}

// Links a ready node (value set, links cleared) at the tail, under the lock. Safe in a signal handler.
template <class T>
void linkTail(crash_async_list<T>* list, crash_async_list_node<T>* node) noexcept {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (list->tail) {
    node->prev = list->tail;
    list->tail->next.store(node, std::memory_order_seq_cst);
    list->tail = node;
  } else {
    list->tail = node;
    list->head.store(node, std::memory_order_seq_cst);
  }
}

// A cleared node holding `value`: a parked one when no reader could still hold it, else a new one.
template <class T>
crash_async_list_node<T>* takeNode(crash_async_list<T>* list, T value) {
  crash_async_list_node<T>* node = nullptr;
  if (list->free_list && list->reader_count.load(std::memory_order_seq_cst) == 0) {
    node = list->free_list;
    list->free_list = node->free_next;
    node->value = std::move(value);
  } else {
    node = new crash_async_list_node<T>{std::move(value)};
  }
  node->next.store(nullptr, std::memory_order_relaxed);
  node->prev = nullptr;
  node->free_next = nullptr;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return node;
}

}  // namespace async_list_detail

// Adds `value` at the tail and returns its node. Not safe in a signal handler.
template <class T>
crash_async_list_node<T>* crash_async_list_append(crash_async_list<T>* list, T value) {
  async_list_detail::lock(list);
  auto* node = async_list_detail::takeNode(list, std::move(value));
  async_list_detail::linkTail(list, node);
  async_list_detail::unlock(list);
  return node;
}

// Adds `value` at the head and returns its node. Not safe in a signal handler.
template <class T>
crash_async_list_node<T>* crash_async_list_prepend(crash_async_list<T>* list, T value) {
  async_list_detail::lock(list);
  auto* node = async_list_detail::takeNode(list, std::move(value));
  if (list->tail) {
    auto* head = list->head.load(std::memory_order_relaxed);
    node->next.store(head, std::memory_order_relaxed);
    head->prev = node;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    list->head.store(node, std::memory_order_seq_cst);
  } else {
    list->tail = node;
    list->head.store(node, std::memory_order_seq_cst);
  }
  async_list_detail::unlock(list);
  return node;
}

// Unlinks `node` (nothing happens when it is not in the list); frees it, or parks it on the free
// list while a reader is counted in. Not safe in a signal handler.
template <class T>
void crash_async_list_remove(crash_async_list<T>* list, typename crash_async_list<T>::node* node) {
  async_list_detail::lock(list);
  auto* at = list->head.load(std::memory_order_relaxed);
  while (at && at != node) at = at->next.load(std::memory_order_relaxed);
  if (!at) {
    async_list_detail::unlock(list);
    return;
  }
  auto* following = node->next.load(std::memory_order_relaxed);
  if (node->prev) {
    node->prev->next.store(following, std::memory_order_seq_cst);
  } else {
    list->head.store(following, std::memory_order_seq_cst);
  }
  if (following) {
    following->prev = node->prev;
  } else {
    list->tail = node->prev;
  }
  if (list->reader_count.load(std::memory_order_seq_cst) >= 1) {
    node->prev = nullptr;
    node->free_next = list->free_list;
    list->free_list = node;
  } else {
    delete node;
  }
  async_list_detail::unlock(list);
}

// Counts a reader in (true) or out (false). Safe in a signal handler.
template <class T>
void crash_async_list_set_reading(crash_async_list<T>* list, bool reading) noexcept {
  list->reader_count.fetch_add(reading ? 1 : -1, std::memory_order_seq_cst);
}

// The node after `previous`, or the head when `previous` is null; null at the end. Only for a
// reader that is counted in. Safe in a signal handler.
template <class T>
crash_async_list_node<T>* crash_async_list_next(crash_async_list<T>* list,
                                                typename crash_async_list<T>::node* previous) noexcept {
  return previous ? previous->next.load(std::memory_order_seq_cst)
                  : list->head.load(std::memory_order_seq_cst);
}

// Frees every node, listed or parked, and leaves the list empty. Only when no reader can be
// counted in. Not safe in a signal handler.
template <class T>
void crash_async_list_free(crash_async_list<T>* list) {
  async_list_detail::lock(list);
  auto* at = list->head.exchange(nullptr, std::memory_order_seq_cst);
  while (at) {
    auto* following = at->next.load(std::memory_order_relaxed);
    delete at;
    at = following;
  }
  while (list->free_list) {
    auto* following = list->free_list->free_next;
    delete list->free_list;
    list->free_list = following;
  }
  list->tail = nullptr;
  async_list_detail::unlock(list);
}

}  // namespace crash
