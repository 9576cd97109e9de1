// Shared ownership for the nodes and node lists the XML library hands out.
//
// A counted_ptr points at its object and at a control block that holds the
// reference count (a plain integer, 1 when the block is made) and the object.
// Copying adds one; releasing the last copy disposes of the object and then
// destroys the block. Not safe for concurrent use: a document and everything
// made from it belong to one thread at a time.
#ifndef XML_COUNTED_PTR_H_
#define XML_COUNTED_PTR_H_

#include <cstdint>
#include <utility>

namespace ostra {

class counted_base {
 public:
  counted_base() = default;
  counted_base(const counted_base&) = delete;
  counted_base& operator=(const counted_base&) = delete;

  // Deletes the object the block owns.
  virtual void dispose() = 0;
  // Deletes the block itself.
  virtual void destroy() { delete this; }
  virtual ~counted_base() = default;

  void addRef() { ++count_; }
  // Drops one reference; the last one disposes of the object, then the block.
  void release() {
    if (--count_ == 0) {
      dispose();
      destroy();
    }
  }
  int32_t count() const { return count_; }

 private:
  int32_t count_ = 1;
};

template <typename T>
class counted_impl_p final : public counted_base {
 public:
  explicit counted_impl_p(T* object) : object_(object) {}
  void dispose() override {
    delete object_;
    object_ = nullptr;
  }

 private:
  T* object_;
};

template <typename T>
class counted_ptr {
 public:
  // A null pointer still gets its control block, so every counted_ptr made
  // this way can be copied and released the same way.
  explicit counted_ptr(T* object = nullptr) : object_(object) {
    try {
      block_ = new counted_impl_p<T>(object);
    } catch (...) {
      delete object;
      throw;
    }
  }
  counted_ptr(const counted_ptr& other) : object_(other.object_), block_(other.block_) {
    if (block_) block_->addRef();
  }
  counted_ptr(counted_ptr&& other) noexcept
      : object_(std::exchange(other.object_, nullptr)),
        block_(std::exchange(other.block_, nullptr)) {}
  counted_ptr& operator=(counted_ptr other) noexcept {
    swap(other);
    return *this;
  }
  ~counted_ptr() {
    if (block_) block_->release();
  }

  void swap(counted_ptr& other) noexcept {
    std::swap(object_, other.object_);
    std::swap(block_, other.block_);
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  // Number of counted pointers sharing the object; 0 for a moved-from one.
  int32_t use_count() const { return block_ ? block_->count() : 0; }

 private:
  T* object_;
  counted_base* block_ = nullptr;
};

}  // namespace ostra

#endif  // XML_COUNTED_PTR_H_
