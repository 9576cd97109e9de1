// Shared ownership through a reference-counted control block.
//
// A counted_ptr<T> points to a control block (counted_impl_p<T>, derived from
// counted_base) that holds the count and the object. Copying a pointer adds a
// reference; releasing one drops it, and the last release first disposes of
// the object, then destroys the block. The count is atomic, so copies of one
// pointer may be made and released on different threads at once (messages
// cross from generator threads to the main thread). A single counted_ptr
// object itself is not thread-safe: two threads must not assign to the same
// counted_ptr variable concurrently.
#ifndef FRAMEWORK_PROPERTIES_COUNTED_PTR_H_
#define FRAMEWORK_PROPERTIES_COUNTED_PTR_H_

#include <atomic>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace vela {

// The control block: a count (1 on creation) and two operations that the
// last release calls in order, dispose (the object) then destroy (the block).
class counted_base {
 public:
  counted_base() noexcept : count_(1) {}
  counted_base(const counted_base&) = delete;
  counted_base& operator=(const counted_base&) = delete;

  // Deletes the owned object.
  virtual void dispose() noexcept = 0;
  // Deletes the control block itself.
  virtual void destroy() noexcept { delete this; }
  virtual ~counted_base() = default;

  void add_ref() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }

  // Drops one reference; the last one disposes and destroys.
  void release() noexcept {
    if (count_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      dispose();
      destroy();
    }
  }

  std::int32_t use_count() const noexcept { return count_.load(std::memory_order_acquire); }

 private:
  std::atomic<std::int32_t> count_;
};

template <class T>
class counted_impl_p : public counted_base {
 public:
  explicit counted_impl_p(T* p) noexcept : ptr_(p) {}

  void dispose() noexcept override { delete ptr_; }
  void destroy() noexcept override { delete this; }

  T* get() const noexcept { return ptr_; }

 private:
  T* ptr_;
};

template <class T>
class counted_ptr {
 public:
  using element_type = T;

  counted_ptr() noexcept = default;
  counted_ptr(std::nullptr_t) noexcept {}

  // Takes ownership of p. If the control block cannot be allocated, p is
  // deleted and std::bad_alloc propagates. A null p makes an empty pointer.
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  explicit counted_ptr(U* p) {
    if (!p) return;
    try {
      block_ = new counted_impl_p<U>(p);
    } catch (...) {
      delete p;
      throw;
    }
    ptr_ = p;
  }

  counted_ptr(const counted_ptr& other) noexcept : block_(other.block_), ptr_(other.ptr_) {
    if (block_) block_->add_ref();
  }
  counted_ptr(counted_ptr&& other) noexcept : block_(other.block_), ptr_(other.ptr_) {
    other.block_ = nullptr;
    other.ptr_ = nullptr;
  }
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  counted_ptr(const counted_ptr<U>& other) noexcept : block_(other.block_), ptr_(other.ptr_) {
    if (block_) block_->add_ref();
  }
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  counted_ptr(counted_ptr<U>&& other) noexcept : block_(other.block_), ptr_(other.ptr_) {
    other.block_ = nullptr;
    other.ptr_ = nullptr;
  }

  ~counted_ptr() {
    if (block_) block_->release();
  }

  counted_ptr& operator=(const counted_ptr& other) noexcept {
    counted_ptr(other).swap(*this);
    return *this;
  }
  counted_ptr& operator=(counted_ptr&& other) noexcept {
    counted_ptr(std::move(other)).swap(*this);
    return *this;
  }

  // Releases the held reference, leaving the pointer empty.
  void reset() noexcept { counted_ptr().swap(*this); }
  // Releases the held reference and takes ownership of p.
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  void reset(U* p) {
    counted_ptr(p).swap(*this);
  }

  void swap(counted_ptr& other) noexcept {
    std::swap(block_, other.block_);
    std::swap(ptr_, other.ptr_);
  }

  T* get() const noexcept { return ptr_; }
  T& operator*() const noexcept { return *ptr_; }
  T* operator->() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  // The number of counted_ptr objects sharing the object; 0 when empty.
  std::int32_t use_count() const noexcept { return block_ ? block_->use_count() : 0; }

 private:
  template <class U>
  friend class counted_ptr;

  counted_base* block_ = nullptr;
  T* ptr_ = nullptr;
};

template <class T, class U>
bool operator==(const counted_ptr<T>& a, const counted_ptr<U>& b) noexcept {
  return a.get() == b.get();
}
template <class T, class U>
bool operator!=(const counted_ptr<T>& a, const counted_ptr<U>& b) noexcept {
  return a.get() != b.get();
}

}  // namespace vela

#endif  // FRAMEWORK_PROPERTIES_COUNTED_PTR_H_
