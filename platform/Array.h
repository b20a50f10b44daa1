// CArray: the framework's dynamic array, reduced to what the system uses.
// Header-only. Elements are copied in and out; the array owns its storage but
// not what pointer elements point to. Not thread-safe; callers lock.
#ifndef VERSEWELL_PLATFORM_ARRAY_H
#define VERSEWELL_PLATFORM_ARRAY_H

#include <cstddef>
#include <stdexcept>
#include <vector>

template <typename T>
class CArray {
 public:
  int GetSize() const { return static_cast<int>(m_items.size()); }
  int GetCount() const { return GetSize(); }
  bool IsEmpty() const { return m_items.empty(); }

  // Stores `value` at `index`, growing the array when index >= size.
  void SetAtGrow(int index, const T& value) {
    if (index < 0) throw std::out_of_range("CArray::SetAtGrow");
    if (static_cast<size_t>(index) >= m_items.size()) m_items.resize(static_cast<size_t>(index) + 1);
    m_items[static_cast<size_t>(index)] = value;
  }
  int Add(const T& value) {
    m_items.push_back(value);
    return GetSize() - 1;
  }
  const T& GetAt(int index) const { return m_items.at(static_cast<size_t>(index)); }
  T& ElementAt(int index) { return m_items.at(static_cast<size_t>(index)); }
  const T& operator[](int index) const { return GetAt(index); }
  T& operator[](int index) { return ElementAt(index); }

  // Removes `count` elements at `index`; later elements move down.
  void RemoveAt(int index, int count = 1) {
    if (index < 0 || count < 0 || static_cast<size_t>(index) + static_cast<size_t>(count) > m_items.size())
      throw std::out_of_range("CArray::RemoveAt");
    m_items.erase(m_items.begin() + index, m_items.begin() + index + count);
  }
  void RemoveAll() {
    m_items.clear();
    m_items.shrink_to_fit();
  }
  // Releases spare storage so that the capacity equals the size.
  void FreeExtra() { m_items.shrink_to_fit(); }
  size_t GetCapacity() const { return m_items.capacity(); }

 private:
  std::vector<T> m_items;
};

#endif  // VERSEWELL_PLATFORM_ARRAY_H
