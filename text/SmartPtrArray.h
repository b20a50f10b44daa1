// CTemplateSmartPtrArray<T>: an owning holder of a character array (T is
// wchar_t or char), used by the growing code page conversions and the text
// file reader.
//
// Ownership: the holder may start on a borrowed buffer (owned false), which it
// never releases. An array stored with owned true belongs to the holder: it is
// released with array delete when the holder is destroyed or when another
// array replaces it. Copying is forbidden, so an array has one owner.
// Failure: nothing here throws or allocates.
// Threads: one holder belongs to one thread at a time.
#ifndef VERSEWELL_TEXT_SMART_PTR_ARRAY_H
#define VERSEWELL_TEXT_SMART_PTR_ARRAY_H

template <typename T>
class CTemplateSmartPtrArray {
 public:
  CTemplateSmartPtrArray() : m_pArray(nullptr), m_bOwned(false) {}
  // Starts on `array`; `owned` says whether the holder releases it.
  CTemplateSmartPtrArray(T* array, bool owned) : m_pArray(array), m_bOwned(owned) {}
  virtual ~CTemplateSmartPtrArray() { Release(); }

  CTemplateSmartPtrArray(const CTemplateSmartPtrArray&) = delete;
  CTemplateSmartPtrArray& operator=(const CTemplateSmartPtrArray&) = delete;

  // Replaces the array: an owned previous array is released first (unless it
  // is the very array being stored).
  void Set(T* array, bool owned) {
    if (array != m_pArray) Release();
    m_pArray = array;
    m_bOwned = owned;
  }

  // Gives up ownership without releasing; the array stays readable.
  T* Detach() {
    m_bOwned = false;
    return m_pArray;
  }

  T* Get() const { return m_pArray; }
  bool IsOwned() const { return m_bOwned; }
  operator T*() const { return m_pArray; }  // NOLINT: used like the array itself

 private:
  void Release() {
    if (m_bOwned) delete[] m_pArray;
    m_pArray = nullptr;
    m_bOwned = false;
  }

  T* m_pArray;
  bool m_bOwned;
};

#endif  // VERSEWELL_TEXT_SMART_PTR_ARRAY_H
