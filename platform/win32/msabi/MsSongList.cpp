#include "platform/win32/msabi/MsSongList.h"

#include <cstring>

#include "platform/win32/msabi/UcrtHeap.h"

namespace msabi {
namespace {

size_t BufferBytes(size_t capacity) { return (capacity + 1) * sizeof(wchar_t); }

void MakeEmpty(SWString* s) {
  s->bx.ptr = nullptr;
  s->bx.buf[0] = L'\0';
  s->size = 0;
  s->capacity = SWString::SMALL_CAPACITY;
}

const SongEntry& Base(const SongListEntry& e) { return e; }

// The eight fields in layout order, for building and freeing alike.
SWString* Fields(SSongListEntry& e, int i) {
  SWString* fields[] = {&e.Title, &e.Artist, &e.Extra1, &e.Url, &e.Extra2, &e.SourceName, &e.SourceId};
  return fields[i];
}
const int FIELD_COUNT = 7;

const std::wstring& Text(const SongListEntry& e, int i) {
  const std::wstring* texts[] = {&Base(e).Title, &Base(e).Artist, &Base(e).Extra1, &Base(e).Url,
                                 &e.Extra2,      &e.SourceName,   &e.SourceId};
  return *texts[i];
}

void FreeNode(SListNode* node) {
  for (int i = 0; i < FIELD_COUNT; ++i) DestroyWString(Fields(node->value, i));
  StlDeallocate(node, sizeof(SListNode));
}

SListNode* BuildNode(const SongListEntry& entry) {
  auto* node = static_cast<SListNode*>(StlAllocate(sizeof(SListNode)));
  if (node == nullptr) return nullptr;
  node->value.Flag = entry.Flag;
  for (int i = 0; i < FIELD_COUNT; ++i) MakeEmpty(Fields(node->value, i));
  for (int i = 0; i < FIELD_COUNT; ++i) {
    const std::wstring& text = Text(entry, i);
    if (!ConstructWString(Fields(node->value, i), text.data(), text.size())) {
      FreeNode(node);
      return nullptr;
    }
  }
  return node;
}

// Frees every node between the head and itself (not the head).
void FreeNodes(SSongList* list) {
  SListNode* head = list->head;
  for (SListNode* node = head->next; node != head;) {
    SListNode* next = node->next;
    FreeNode(node);
    node = next;
  }
  head->next = head;
  head->prev = head;
  list->size = 0;
}

}  // namespace

bool ConstructWString(SWString* s, const wchar_t* text, size_t length) {
  MakeEmpty(s);
  if (length <= SWString::SMALL_CAPACITY) {
    if (length > 0) std::memcpy(s->bx.buf, text, length * sizeof(wchar_t));
    s->bx.buf[length] = L'\0';
    s->size = length;
    return true;
  }
  // The capacity the host's library gives a string made from `length`
  // characters: the length with its low three bits set.
  const size_t capacity = length | 7;
  auto* chars = static_cast<wchar_t*>(StlAllocate(BufferBytes(capacity)));
  if (chars == nullptr) return false;
  std::memcpy(chars, text, length * sizeof(wchar_t));
  chars[length] = L'\0';
  s->bx.ptr = chars;
  s->size = length;
  s->capacity = capacity;
  return true;
}

void DestroyWString(SWString* s) {
  if (s->IsLarge()) StlDeallocate(s->bx.ptr, BufferBytes(s->capacity));
  MakeEmpty(s);
}

std::list<SongListEntry> ReadSongList(const SSongList& list) {
  std::list<SongListEntry> out;
  for (const SListNode* node = list.head->next; node != list.head; node = node->next) {
    const SSongListEntry& v = node->value;
    SongListEntry e(SongEntry(ReadWString(v.Title), ReadWString(v.Artist), ReadWString(v.Extra1), v.Flag));
    e.Url = ReadWString(v.Url);
    e.Extra2 = ReadWString(v.Extra2);
    e.SourceName = ReadWString(v.SourceName);
    e.SourceId = ReadWString(v.SourceId);
    out.push_back(e);
  }
  return out;
}

bool ReplaceSongList(SSongList* list, const std::list<SongListEntry>& entries) {
  SListNode* first = nullptr;
  SListNode* last = nullptr;
  for (const SongListEntry& entry : entries) {
    SListNode* node = BuildNode(entry);
    if (node == nullptr) {
      for (SListNode* built = first; built != nullptr;) {
        SListNode* next = built == last ? nullptr : built->next;
        FreeNode(built);
        built = next;
      }
      return false;
    }
    if (first == nullptr) first = node;
    else {
      last->next = node;
      node->prev = last;
    }
    last = node;
  }
  FreeNodes(list);
  SListNode* head = list->head;
  if (first != nullptr) {
    head->next = first;
    first->prev = head;
    last->next = head;
    head->prev = last;
  }
  list->size = entries.size();
  return true;
}

bool ConstructSongList(SSongList* list) {
  auto* head = static_cast<SListNode*>(StlAllocate(sizeof(SListNode)));
  if (head == nullptr) return false;
  head->next = head;
  head->prev = head;
  list->head = head;
  list->size = 0;
  return true;
}

void DestroySongList(SSongList* list) {
  if (list->head == nullptr) return;
  FreeNodes(list);
  StlDeallocate(list->head, sizeof(SListNode));
  list->head = nullptr;
}

}  // namespace msabi
