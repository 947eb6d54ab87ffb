#pragma once
// A singly linked list of variable-size records and a pointer list with a cursor.
#include <cstddef>

struct record_node;
struct record_list {
  record_node* head;
  record_node* cursor;
};

record_list* record_list_create();
// New record at the head; its data area (not cleared) or null.
void* record_list_add(record_list* list, size_t size);
void record_list_start(record_list* list);
// Data under the cursor, cursor advances; null at the end.
void* record_list_next(record_list* list);
// Unlinks and frees the record whose data area this is (moving the cursor past it first).
void record_list_remove(record_list* list, void* data);
// Calls fn (may be null) on each data area, frees every record; the cursor is left as it was.
void record_list_clear(record_list* list, void (*fn)(void*));
bool record_list_empty(const record_list* list);
// Clears and frees the list itself.
void record_list_destroy(record_list* list, void (*fn)(void*));

class PointerList {
 public:
  PointerList() = default;
  ~PointerList();
  PointerList(const PointerList&) = delete;
  PointerList& operator=(const PointerList&) = delete;
  void Add(void* item);
  // Removes the first node holding item: 1, or 0 when absent. The cursor is not moved,
  // except off a node being freed (to that node's successor).
  int Remove(void* item);
  void Reset();
  void* Next();
  bool IsEmpty() const;

 private:
  struct Node {
    Node* next;
    void* item;
  };
  Node* head_ = nullptr;
  Node* cursor_ = nullptr;
};

// Nodes from head on (linked by next).
template <class Node>
int list_count(const Node* head) {
  int n = 0;
  for (; head; head = head->next) ++n;
  return n;
}

// Adds node at the end of a queue kept by its head and tail pointers (nodes link by next).
template <class Node>
void list_append(Node*& head, Node*& tail, Node* node) {
  node->next = nullptr;
  if (tail)
    tail->next = node;
  else
    head = node;
  tail = node;
}
