#include "foundation/onelink.h"

#include "foundation/coreglob.h"
#include "foundation/umalloc.h"

namespace {

// Outside every scope, so a caller's FreeTrackedMallocs cannot free nodes of a live list.
OneLink* NewNode(int value) {
  OneLink* node = nullptr;
  UntrackedScope own;
  if (!CallocArrayUnlessFailed(node, 1)) return nullptr;
  node->next = nullptr;
  node->value = value;
  return node;
}

}  // namespace

OneLink* InsertSortedOneLink(OneLink* list, int value) {
  OneLink* node = NewNode(value);
  if (!node) return list;
  OneLink** at = &list;
  while (*at && (*at)->value < value) at = &(*at)->next;
  if (*at && (*at)->value == value) {
    Free(node);
    return list;
  }
  node->next = *at;
  *at = node;
  return list;
}

OneLink* AppendOneLink(OneLink* list, int value) {
  OneLink* node = NewNode(value);
  if (!node) return list;
  OneLink** at = &list;
  while (*at) at = &(*at)->next;
  *at = node;
  return list;
}

int SearchSortedOneLink(const OneLink* list, int value) {
  for (; list && list->value <= value; list = list->next)
    if (list->value == value) return 1;
  return 0;
}

int FreeOneLink(OneLink* list) {
  while (list) {
    OneLink* next = list->next;
    Free(list);
    list = next;
  }
  return 0;
}
