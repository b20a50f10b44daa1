// The test host's std::wstring and std::list: layout-identical stand-ins for
// Microsoft's standard library (versions 2015-2022, release build, no
// iterator debugging), on the host heap. They live in namespace msstl: a
// program may not define its own std:: classes.
//
// Layout and rules, as in the library's sources (xstring, list, xmemory):
//   - wstring: a 16-byte union of an 8-character buffer and a pointer, then
//     size and capacity (size_t each). The buffer holds the text while the
//     capacity is 7; a larger capacity c owns a block of (c + 1) * 2 bytes
//     obtained from operator new; a new capacity is the request with its low
//     three bits set (at least 1.5 times the old one when growing);
//   - blocks of 4096 bytes or more are aligned by hand to 32 bytes: operator
//     new gets size + sizeof(void*) + 31 bytes, and the pointer it returned
//     is stored in the word just before the aligned block. Freeing such a
//     block reads that word back and accepts it only when it lies between
//     sizeof(void*) and sizeof(void*) + 31 bytes before the block;
//   - list: a pointer to a sentinel head node, then the size. A node is
//     {next, prev, value}; the head's value is never constructed.
// CheckHanded() inspects a string the plug-in produced: every block it owns
// must be a live plug-in block of the ledger (HostRuntime.h) that obeys the
// rules above. It records each such block as handed to the host.
//
// Threads: one thread at a time per object.
#ifndef VERSEWELL_MSABI_HOST_STL_H
#define VERSEWELL_MSABI_HOST_STL_H

#include "HostRuntime.h"

namespace msstl {

constexpr size_t BIG_ALLOCATION_THRESHOLD = 4096;
constexpr size_t BIG_ALLOCATION_ALIGNMENT = 32;
constexpr size_t NON_USER_SIZE = sizeof(void*) + BIG_ALLOCATION_ALIGNMENT - 1;

// What the host learned from the blocks the plug-in handed over.
struct SHandOver {
  unsigned int nBlocks = 0;       // blocks that became the host's
  unsigned int nBigBlocks = 0;    // ... of which took the 4096-byte rule
  unsigned int nBadBlocks = 0;    // not a live plug-in block, or bad big-block word
  unsigned int nBadStrings = 0;   // size/capacity/terminator inconsistent
  unsigned int nBadLinks = 0;     // list links or size inconsistent
};
SHandOver& HandOver();

// operator new/delete of the library, with the big-block rule.
void* AllocateBytes(size_t bytes);
void DeallocateBytes(void* block, size_t bytes);
// The block operator new returned for a user block of `bytes` bytes, or null
// when the big-block word is not valid.
void* ContainerOf(void* block, size_t bytes);

class wstring {
 public:
  static constexpr size_t SMALL_CAPACITY = 7;

  wstring() { Init(); }
  wstring(const wchar_t* text) { Init(); assign(text, wcslen(text)); }  // NOLINT: as the library's class
  wstring(const wchar_t* text, size_t length) { Init(); assign(text, length); }
  wstring(const wstring& other) { Init(); assign(other.c_str(), other.m_nSize); }
  ~wstring() { Tidy(); }
  wstring& operator=(const wstring& other) {
    if (this != &other) assign(other.c_str(), other.m_nSize);
    return *this;
  }

  void assign(const wchar_t* text, size_t length);
  const wchar_t* c_str() const { return m_nCapacity > SMALL_CAPACITY ? m_bx.ptr : m_bx.buf; }
  size_t size() const { return m_nSize; }
  size_t capacity() const { return m_nCapacity; }

  // For a string the plug-in wrote: see the file comment.
  bool CheckHanded() const;

 private:
  void Init() {
    m_nSize = 0;
    m_nCapacity = SMALL_CAPACITY;
    m_bx.buf[0] = 0;
  }
  void Tidy();

  union {
    wchar_t buf[SMALL_CAPACITY + 1];
    wchar_t* ptr;
  } m_bx;
  size_t m_nSize;
  size_t m_nCapacity;
};

static_assert(sizeof(wstring) == 16 + 2 * sizeof(size_t), "MSVC wstring size");

template <class T>
class list {
 public:
  struct node {
    node* next;
    node* prev;
    T value;
  };

  list() {
    m_pHead = static_cast<node*>(AllocateBytes(sizeof(node)));
    m_pHead->next = m_pHead->prev = m_pHead;
    m_nSize = 0;
  }
  ~list() {
    clear();
    DeallocateBytes(m_pHead, sizeof(node));
  }
  list(const list&) = delete;
  list& operator=(const list&) = delete;

  void push_back(const T& value) {
    node* n = static_cast<node*>(AllocateBytes(sizeof(node)));
    new (&n->value) T(value);
    n->next = m_pHead;
    n->prev = m_pHead->prev;
    m_pHead->prev->next = n;
    m_pHead->prev = n;
    ++m_nSize;
  }
  void clear() {
    node* n = m_pHead->next;
    while (n != m_pHead) {
      node* next = n->next;
      n->value.~T();
      DeallocateBytes(n, sizeof(node));
      n = next;
    }
    m_pHead->next = m_pHead->prev = m_pHead;
    m_nSize = 0;
  }
  size_t size() const { return m_nSize; }
  const node* head() const { return m_pHead; }

  // For a list the plug-in filled: the head node is still the host's, the
  // links agree both ways and with the size, every node is a handed-over
  // block; `checkValue` checks each value.
  template <class F>
  bool CheckHanded(F checkValue) const {
    bool ok = true;
    size_t count = 0;
    const node* n = m_pHead;
    if (msabi::BlockState(m_pHead) != 1) ok = false;
    do {
      if (n->next->prev != n) {
        ok = false;
        break;
      }
      n = n->next;
      if (n == m_pHead) break;
      if (++count > m_nSize) {
        ok = false;
        break;
      }
      if (msabi::BlockState(n) != 2) {
        ++HandOver().nBadBlocks;
        ok = false;
      } else {
        ++HandOver().nBlocks;
      }
      if (!checkValue(n->value)) ok = false;
    } while (true);
    if (count != m_nSize) ok = false;
    if (!ok) ++HandOver().nBadLinks;
    return ok;
  }

 private:
  node* m_pHead;
  size_t m_nSize;
};

}  // namespace msstl

#endif  // VERSEWELL_MSABI_HOST_STL_H
