// Reference-counted framework objects and the intrusive reference Ref<T>.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>

namespace fw {

struct ClassRecord;

// Every framework object starts with the same 24-byte header; a plug-in class's own data follows it.
class Object {
 public:
  Object() noexcept = default;
  virtual ~Object() = default;
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  void Retain() const noexcept { refs_.fetch_add(1, std::memory_order_relaxed); }
  void Release() const noexcept {
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  std::int32_t RefCount() const noexcept { return refs_.load(std::memory_order_acquire); }

  const ClassRecord* Class() const noexcept { return class_; }
  void SetClass(const ClassRecord* record) noexcept { class_ = record; }

 private:
  const ClassRecord* class_ = nullptr;
  mutable std::atomic<std::int32_t> refs_{0};
  [[maybe_unused]] std::int32_t reserved_ = 0;  // keeps the header at 24 bytes
};

inline constexpr std::size_t kObjectHeaderSize = 24;
static_assert(sizeof(Object) == kObjectHeaderSize, "the object header is 24 bytes");

// An owning reference. Ref(p) takes a new reference; Ref::Adopt(p) takes over one the caller already holds.
template <typename T>
class Ref {
 public:
  Ref() noexcept = default;
  Ref(std::nullptr_t) noexcept {}
  explicit Ref(T* p) noexcept : p_(p) {
    if (p_) p_->Retain();
  }
  Ref(const Ref& other) noexcept : Ref(other.p_) {}
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <typename U>
  Ref(const Ref<U>& other) noexcept : Ref(static_cast<T*>(other.get())) {}
  template <typename U>
  Ref(Ref<U>&& other) noexcept : p_(static_cast<T*>(other.Detach())) {}
  ~Ref() {
    if (p_) p_->Release();
  }

  Ref& operator=(Ref other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  static Ref Adopt(T* p) noexcept {
    Ref r;
    r.p_ = p;
    return r;
  }
  // Gives up ownership without releasing: the caller now holds the reference.
  T* Detach() noexcept { return std::exchange(p_, nullptr); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }
  friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

template <typename T, typename... Args>
Ref<T> MakeRef(Args&&... args) {
  return Ref<T>(new T(std::forward<Args>(args)...));
}

// A reference that one thread may replace while others take copies of it: no reader sees a torn one.
// The lock is held only while the reference is copied or swapped; the old object goes after it.
template <typename T>
class GuardedRef {
 public:
  Ref<T> Load() const {
    std::lock_guard lock(mutex_);
    return ref_;
  }
  void Store(Ref<T> value) {
    {
      std::lock_guard lock(mutex_);
      std::swap(ref_, value);
    }
  }

 private:
  mutable std::mutex mutex_;
  Ref<T> ref_;
};

}  // namespace fw
