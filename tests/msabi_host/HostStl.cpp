// The test host's wstring and the library's allocation rule.
#include "HostStl.h"

namespace msstl {

SHandOver& HandOver() {
  static SHandOver handOver;
  return handOver;
}

void* AllocateBytes(size_t bytes) {
  if (bytes < BIG_ALLOCATION_THRESHOLD) return msabi::HostAlloc(bytes);
  size_t container = reinterpret_cast<size_t>(msabi::HostAlloc(bytes + NON_USER_SIZE));
  void* block = reinterpret_cast<void*>((container + NON_USER_SIZE) & ~(BIG_ALLOCATION_ALIGNMENT - 1));
  static_cast<size_t*>(block)[-1] = container;
  return block;
}

void* ContainerOf(void* block, size_t bytes) {
  if (bytes < BIG_ALLOCATION_THRESHOLD) return block;
  size_t user = reinterpret_cast<size_t>(block);
  size_t container = static_cast<size_t*>(block)[-1];
  size_t backShift = user - container;
  if (user % BIG_ALLOCATION_ALIGNMENT != 0 || backShift < sizeof(void*) || backShift > NON_USER_SIZE) return nullptr;
  return reinterpret_cast<void*>(container);
}

void DeallocateBytes(void* block, size_t bytes) {
  void* container = ContainerOf(block, bytes);
  if (container == nullptr) {
    // The library stops the program here; the host counts it and leaks.
    ++HandOver().nBadBlocks;
    return;
  }
  msabi::HostFree(container);
}

void wstring::Tidy() {
  if (m_nCapacity > SMALL_CAPACITY) DeallocateBytes(m_bx.ptr, (m_nCapacity + 1) * sizeof(wchar_t));
  Init();
}

void wstring::assign(const wchar_t* text, size_t length) {
  if (length > m_nCapacity) {
    size_t capacity = length | 7;
    size_t grown = m_nCapacity + m_nCapacity / 2;
    if (capacity < grown) capacity = grown;
    wchar_t* block = static_cast<wchar_t*>(AllocateBytes((capacity + 1) * sizeof(wchar_t)));
    memcpy(block, text, length * sizeof(wchar_t));
    Tidy();
    m_bx.ptr = block;
    m_nCapacity = capacity;
  } else {
    memcpy(m_nCapacity > SMALL_CAPACITY ? m_bx.ptr : m_bx.buf, text, length * sizeof(wchar_t));
  }
  m_nSize = length;
  (m_nCapacity > SMALL_CAPACITY ? m_bx.ptr : m_bx.buf)[length] = 0;
}

bool wstring::CheckHanded() const {
  if (m_nCapacity < SMALL_CAPACITY || m_nSize > m_nCapacity || c_str()[m_nSize] != 0) {
    ++HandOver().nBadStrings;
    return false;
  }
  if (m_nCapacity == SMALL_CAPACITY) return true;
  size_t bytes = (m_nCapacity + 1) * sizeof(wchar_t);
  void* container = ContainerOf(m_bx.ptr, bytes);
  if (container == nullptr || msabi::BlockState(container) != 2) {
    ++HandOver().nBadBlocks;
    return false;
  }
  ++HandOver().nBlocks;
  if (bytes >= BIG_ALLOCATION_THRESHOLD) ++HandOver().nBigBlocks;
  return true;
}

}  // namespace msstl
