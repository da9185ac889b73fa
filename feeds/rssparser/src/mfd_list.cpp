#include "feeds/rssparser/src/mfd_list.h"

#include "feeds/rssparser/src/mfd_alloc.h"
#include "feeds/rssparser/src/mfd_rss_error.h"

namespace oxm {

int mfd_list_create(mfd_list** list) {
  if (!list || *list) return MFD_INVALID;
  *list = MFD_NEW(mfd_list);
  return *list ? MFD_OK : MFD_NO_MEMORY;
}

int mfd_list_append(mfd_list* list, void* value) {
  if (!list || !value) return MFD_INVALID;
  mfd_list_node* node = MFD_NEW(mfd_list_node);
  if (!node) return MFD_NO_MEMORY;
  node->value = value;
  node->prev = list->tail;
  if (list->tail) list->tail->next = node;
  else list->head = node;
  list->tail = node;
  ++list->count;
  return MFD_OK;
}

int mfd_list_append_to(mfd_list** list, void* value) {
  if (!list || !value) return MFD_INVALID;
  if (!*list)
    if (const int rc = mfd_list_create(list); rc != MFD_OK) return rc;
  return mfd_list_append(*list, value);
}

int mfd_list_first(mfd_list* list, void** value) {
  if (!list || !value) return MFD_INVALID;
  list->cursor = list->head;
  list->removed = false;
  if (!list->cursor) return MFD_ABSENT;
  *value = list->cursor->value;
  return MFD_OK;
}

int mfd_list_next(mfd_list* list, void** value) {
  if (!list || !value) return MFD_INVALID;
  if (list->removed) {
    list->cursor = list->after_removed;
    list->removed = false;
  } else if (list->cursor) {
    list->cursor = list->cursor->next;
  }
  if (!list->cursor) return MFD_ABSENT;
  *value = list->cursor->value;
  return MFD_OK;
}

int mfd_list_remove_current(mfd_list* list, void** value) {
  if (!list || !value) return MFD_INVALID;
  mfd_list_node* node = list->removed ? nullptr : list->cursor;
  if (!node) return MFD_ABSENT;
  if (node->prev) node->prev->next = node->next;
  else list->head = node->next;
  if (node->next) node->next->prev = node->prev;
  else list->tail = node->prev;
  list->after_removed = node->next;
  list->removed = true;
  list->cursor = nullptr;
  --list->count;
  *value = node->value;
  mfd_free(node);
  return MFD_OK;
}

int mfd_list_count(const mfd_list* list, size_t* count) {
  if (!list || !count) return MFD_INVALID;
  *count = list->count;
  return MFD_OK;
}

int mfd_list_get(const void* owner, mfd_list* list, mfd_list** out) {
  if (!owner || !out) return MFD_INVALID;
  if (!list || !list->count) return MFD_ABSENT;
  *out = list;
  return MFD_OK;
}

void mfd_list_destroy(mfd_list** list, void (*release)(void* value)) {
  if (!list || !*list) return;
  for (mfd_list_node* node = (*list)->head; node;) {
    mfd_list_node* next = node->next;
    if (release) release(node->value);
    mfd_free(node);
    node = next;
  }
  mfd_free(*list);
  *list = nullptr;
}

}  // namespace oxm
