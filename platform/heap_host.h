// Host build only: a switch for the tests that makes the heap refuse the blocks of the texts and
// lists of platform/text.h, as a Windows heap does when it runs out.
#pragma once

#include <cstddef>

namespace HostHeap {

// From now on, refuse the nth block asked for (1: the next one) and the count - 1 after it;
// a count of 0 refuses every block from the nth on.
void Refuse(size_t nth, size_t count = 1);
// Refuse nothing any more.
void Allow();
// The blocks asked for since the last Refuse or Allow, refused ones included.
size_t Requests();

}  // namespace HostHeap
