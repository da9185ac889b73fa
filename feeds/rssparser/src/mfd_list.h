// A doubly linked list with an internal cursor: `first` resets the cursor to the first element,
// `next` moves it on. The element under the cursor may be removed while walking; `next` then
// gives the one that followed it.
#pragma once

#include <cstddef>

namespace oxm {

struct mfd_list_node {
  mfd_list_node* prev;
  mfd_list_node* next;
  void* value;
};

struct mfd_list {
  mfd_list_node* head;
  mfd_list_node* tail;
  mfd_list_node* cursor;
  mfd_list_node* after_removed;  // what `next` gives after the cursor's element was removed
  bool removed;
  size_t count;
};

// 3 when *list is not null beforehand, 2 when memory runs out.
int mfd_list_create(mfd_list** list);
// Appends a value (not null); 2 when memory runs out, the value then not taken.
int mfd_list_append(mfd_list* list, void* value);
// The same for a list made on first use (*list null beforehand).
int mfd_list_append_to(mfd_list** list, void* value);
// 5 when the list is empty / the walk is at its end; 3 for null pointers.
int mfd_list_first(mfd_list* list, void** value);
int mfd_list_next(mfd_list* list, void** value);
// Removes the element under the cursor and gives its value to the caller; 5 when none.
int mfd_list_remove_current(mfd_list* list, void** value);
int mfd_list_count(const mfd_list* list, size_t* count);
// A list held by a tree object, for its accessor: 3 for null pointers, 5 when the list is
// missing or empty.
int mfd_list_get(const void* owner, mfd_list* list, mfd_list** out);
// Releases every node (each value through `release` when given) and the list; nulls *list.
void mfd_list_destroy(mfd_list** list, void (*release)(void* value));

}  // namespace oxm
