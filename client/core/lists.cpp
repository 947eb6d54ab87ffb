#include "client/core/lists.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

struct record_node {
  record_node* next;
  std::max_align_t data[];  // the caller's area, aligned for any type
};

namespace {
record_node* node_of(void* data) {
  return reinterpret_cast<record_node*>(static_cast<char*>(data) - offsetof(record_node, data));
}
}  // namespace

record_list* record_list_create() {
  return static_cast<record_list*>(std::calloc(1, sizeof(record_list)));
}

void* record_list_add(record_list* list, size_t size) {
  if (!list || size > SIZE_MAX - sizeof(record_node)) return nullptr;
  record_node* n = static_cast<record_node*>(std::malloc(sizeof(record_node) + size));
  if (!n) return nullptr;
  n->next = list->head;
  list->head = n;
  return n->data;
}

void record_list_start(record_list* list) {
  if (list) list->cursor = list->head;
}

void* record_list_next(record_list* list) {
  if (!list || !list->cursor) return nullptr;
  record_node* n = list->cursor;
  list->cursor = n->next;
  return n->data;
}

void record_list_remove(record_list* list, void* data) {
  if (!list || !data) return;
  record_node* target = node_of(data);
  for (record_node** link = &list->head; *link; link = &(*link)->next) {
    if (*link == target) {
      if (list->cursor == target) list->cursor = target->next;
      *link = target->next;
      std::free(target);
      return;
    }
  }
}

void record_list_clear(record_list* list, void (*fn)(void*)) {
  if (!list) return;
  record_node* n = list->head;
  while (n) {
    record_node* next = n->next;
    if (fn) fn(n->data);
    std::free(n);
    n = next;
  }
  list->head = nullptr;
  // The cursor would point into freed records: it goes to the (empty) head.
  list->cursor = nullptr;
}

bool record_list_empty(const record_list* list) { return !list || !list->head; }

void record_list_destroy(record_list* list, void (*fn)(void*)) {
  record_list_clear(list, fn);
  std::free(list);
}

PointerList::~PointerList() {
  while (head_) {
    Node* next = head_->next;
    delete head_;
    head_ = next;
  }
}

void PointerList::Add(void* item) { head_ = new Node{head_, item}; }

int PointerList::Remove(void* item) {
  for (Node** link = &head_; *link; link = &(*link)->next) {
    if ((*link)->item == item) {
      Node* n = *link;
      if (cursor_ == n) cursor_ = n->next;  // never leave the cursor on a freed node
      *link = n->next;
      delete n;
      return 1;
    }
  }
  return 0;
}

void PointerList::Reset() { cursor_ = head_; }

void* PointerList::Next() {
  if (!cursor_) return nullptr;
  Node* n = cursor_;
  cursor_ = n->next;
  return n->item;
}

bool PointerList::IsEmpty() const { return head_ == nullptr; }
