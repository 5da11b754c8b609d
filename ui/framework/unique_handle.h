// Owning wrappers for Win32 handles: move-only, the source is nulled on move.
#pragma once

#include <windows.h>

#include <utility>

namespace vx::ui {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : m_handle(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : m_handle(std::exchange(o.m_handle, Traits::Null())) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) {
      Reset(std::exchange(o.m_handle, Traits::Null()));
    }
    return *this;
  }

  Handle Get() const { return m_handle; }
  explicit operator bool() const { return m_handle != Traits::Null(); }
  void Reset(Handle h = Traits::Null()) {
    if (m_handle != Traits::Null()) {
      Traits::Close(m_handle);
    }
    m_handle = h;
  }
  Handle Release() { return std::exchange(m_handle, Traits::Null()); }

 private:
  Handle m_handle = Traits::Null();
};

struct IconTraits {
  using Handle = HICON;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { DestroyIcon(h); }
};
using UniqueIcon = UniqueHandle<IconTraits>;

struct CursorTraits {
  using Handle = HCURSOR;
  static Handle Null() { return nullptr; }
  static void Close(Handle h) { DestroyCursor(h); }
};
using UniqueCursor = UniqueHandle<CursorTraits>;

}  // namespace vx::ui
