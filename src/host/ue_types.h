// The engine's value types as the plugin touches them. TArray and FString own
// engine memory: each releases its buffer through the engine's allocator
// exactly once, in its destructor, so a buffer is freed even when an
// exception unwinds past it. Neither can be copied; both can be moved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "host/engine_memory.h"
#include "host/host_api.h"

using int32 = std::int32_t;

class UObject;
class UWorld;
class AActor;
class UEngine;
class APlayerController;
class RCONClientConnection;

template <typename T>
class TArray {
 public:
  TArray() = default;
  // Adopts a buffer that the engine's allocator handed out.
  TArray(T* data, int32 num, int32 max) noexcept : data_(data), num_(num), max_(max) {}
  TArray(TArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        num_(std::exchange(other.num_, 0)),
        max_(std::exchange(other.max_, 0)) {}
  TArray& operator=(TArray&& other) noexcept {
    if (this != &other) {
      ReleaseEngineBuffer(data_);
      data_ = std::exchange(other.data_, nullptr);
      num_ = std::exchange(other.num_, 0);
      max_ = std::exchange(other.max_, 0);
    }
    return *this;
  }
  TArray(const TArray&) = delete;
  TArray& operator=(const TArray&) = delete;
  ~TArray() { ReleaseEngineBuffer(data_); }

  T* GetData() const noexcept { return data_; }
  int32 Num() const noexcept { return num_; }
  int32 Max() const noexcept { return max_; }
  T* begin() const noexcept { return data_; }
  T* end() const noexcept { return data_ + (num_ > 0 ? num_ : 0); }
  T& operator[](int32 i) const noexcept { return data_[i]; }

 private:
  T* data_ = nullptr;
  int32 num_ = 0;
  int32 max_ = 0;
};
static_assert(sizeof(TArray<int>) == 16, "TArray is a pointer, a count and a capacity");

// The engine's wide string; Num() counts the terminating zero, as the engine does.
class FString {
 public:
  FString() = default;
  // Copies a zero-terminated wide string into a buffer from the engine's
  // allocator. Defined by the framework.
  QM_HOST_API explicit FString(const wchar_t* text);

  const wchar_t* operator*() const noexcept { return data_.GetData() ? data_.GetData() : L""; }
  int32 Len() const noexcept { return data_.Num() > 0 ? data_.Num() - 1 : 0; }
  TArray<wchar_t>& GetCharArray() noexcept { return data_; }

 private:
  TArray<wchar_t> data_;
};

namespace UE::Math {
template <typename T>
struct TVector {
  T X = 0;
  T Y = 0;
  T Z = 0;
};
}  // namespace UE::Math

namespace EServerOctreeGroup {
enum Type : int {
  STASISCOMPONENTS = 0,
  PLAYERPAWNS = 1,
  DINOPAWNS = 2,
  PAWNS = 3,
  STRUCTURES = 4,
  MAX = 5,
};
}  // namespace EServerOctreeGroup

// A remote-console request as the framework delivers it.
struct RCONPacket {
  int32 Length = 0;
  int32 Id = 0;
  int32 Type = 0;
  FString Body;
};
static_assert(offsetof(RCONPacket, Id) == 4, "the request id stands at byte offset 4");
