// A singly linked list of ints; the sorted operations keep it strictly ascending. A list is
// a pointer to its first node; null is the empty list. Nodes never belong to the caller's
// tracking scope: only FreeOneLink releases them.
#pragma once

struct OneLink {
  OneLink* next;
  int value;
};

// Both return the new first node; the list comes back unchanged when no node can be had.
// A value already present is not inserted again.
OneLink* InsertSortedOneLink(OneLink* list, int value);
// Appends without any order or uniqueness test.
OneLink* AppendOneLink(OneLink* list, int value);
// 1 when value is in the (ascending) list, else 0; stops at the first larger value.
int SearchSortedOneLink(const OneLink* list, int value);
// Frees every node (null is ignored); 0.
int FreeOneLink(OneLink* list);
