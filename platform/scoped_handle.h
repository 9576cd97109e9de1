// Ownership of operating-system handles in the type.
//
// GenericScopedHandle<Traits> owns one handle: it closes it when it goes out
// of scope, is moved but never copied, and hands the handle over only through
// release(). BorrowedHandle<Traits> names a handle that someone else owns (a
// stream end inherited by number on the command line, say): it is copied
// freely and never closes anything. The two are different types so that a
// member says by its type whether its destructor closes the handle.
//
// Traits give the handle type and its three services:
//   using Handle = ...;
//   static Handle nullHandle();            // what an empty owner holds
//   static bool isValid(Handle handle);    // false for null and for the
//                                          // platform's invalid value
//   static void close(Handle handle);      // called for valid handles only
//
// Neither type is thread-safe; a handle is owned by one object at a time.
#ifndef PLATFORM_SCOPED_HANDLE_H_
#define PLATFORM_SCOPED_HANDLE_H_

#include <utility>

#include "platform/byte_stream.h"
#include "platform/mutex.h"
#include "platform/thread.h"

namespace platform {

template <class Traits>
class GenericScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  GenericScopedHandle() = default;
  // Takes `handle` over. An invalid handle (a failed open) leaves the owner
  // empty, so callers may adopt what an open returned without checking it.
  explicit GenericScopedHandle(Handle handle) { reset(handle); }

  GenericScopedHandle(const GenericScopedHandle&) = delete;
  GenericScopedHandle& operator=(const GenericScopedHandle&) = delete;

  GenericScopedHandle(GenericScopedHandle&& other) noexcept : handle_(other.release()) {}
  GenericScopedHandle& operator=(GenericScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  ~GenericScopedHandle() { close(); }

  bool isValid() const { return Traits::isValid(handle_); }
  explicit operator bool() const { return isValid(); }

  Handle get() const { return handle_; }
  // Where the handle is held, for an interface that hands out the address of
  // its handle: the holder reads it there, and never stores through it.
  const Handle* address() const { return &handle_; }

  // Closes the handle held and takes `handle` over (invalid: none).
  void reset(Handle handle = Traits::nullHandle()) {
    if (handle == handle_) return;
    close();
    if (Traits::isValid(handle)) handle_ = handle;
  }

  // Gives the handle up without closing it; the owner is empty afterwards.
  [[nodiscard]] Handle release() {
    return std::exchange(handle_, Traits::nullHandle());
  }

  // Closes the handle held, if any.
  void close() {
    const Handle handle = std::exchange(handle_, Traits::nullHandle());
    if (Traits::isValid(handle)) Traits::close(handle);
  }

 private:
  Handle handle_ = Traits::nullHandle();
};

template <class Traits>
class BorrowedHandle {
 public:
  using Handle = typename Traits::Handle;

  BorrowedHandle() = default;
  explicit BorrowedHandle(Handle handle) : handle_(handle) {}
  // An owner lends its handle; the owner must outlive the borrower.
  BorrowedHandle(const GenericScopedHandle<Traits>& owner) : handle_(owner.get()) {}  // NOLINT

  bool isValid() const { return Traits::isValid(handle_); }
  explicit operator bool() const { return isValid(); }
  Handle get() const { return handle_; }

 private:
  Handle handle_ = Traits::nullHandle();
};

struct StreamHandleTraits {
  using Handle = StreamHandle;
  static Handle nullHandle() { return kNoStream; }
  static bool isValid(Handle handle) { return isUsableStream(handle); }
  static void close(Handle handle) { closeStream(handle); }
};

// The platform's invalid value of a pointer-sized handle (INVALID_HANDLE_VALUE
// on Windows), refused by the traits below as well as null.
inline void* invalidPointerHandle() { return reinterpret_cast<void*>(static_cast<std::intptr_t>(-1)); }

struct ThreadHandleTraits {
  using Handle = ThreadHandle;
  static Handle nullHandle() { return nullptr; }
  static bool isValid(Handle handle) {
    return handle != nullptr && handle != invalidPointerHandle();
  }
  static void close(Handle handle) { closeThreadHandle(handle); }
};

struct MutexHandleTraits {
  using Handle = MutexHandle;
  static Handle nullHandle() { return nullptr; }
  static bool isValid(Handle handle) {
    return handle != nullptr && handle != invalidPointerHandle();
  }
  static void close(Handle handle) { closeMutex(handle); }
};

using ScopedStream = GenericScopedHandle<StreamHandleTraits>;
using BorrowedStream = BorrowedHandle<StreamHandleTraits>;
using ScopedThread = GenericScopedHandle<ThreadHandleTraits>;
using ScopedMutex = GenericScopedHandle<MutexHandleTraits>;

}  // namespace platform

#endif  // PLATFORM_SCOPED_HANDLE_H_
