#include "platform/heap_host.h"

#include <cstdlib>

#include "platform/text.h"

namespace {

size_t g_requests = 0;
size_t g_first = 0;  // 0: nothing is refused
size_t g_count = 0;

}  // namespace

void* TextRealloc(void* block, size_t bytes) {
  size_t n = ++g_requests;
  if (g_first && n >= g_first && (g_count == 0 || n - g_first < g_count)) return nullptr;
  return std::realloc(block, bytes);
}

namespace HostHeap {

void Refuse(size_t nth, size_t count) {
  g_requests = 0;
  g_first = nth;
  g_count = count;
}

void Allow() {
  g_requests = 0;
  g_first = 0;
  g_count = 0;
}

size_t Requests() { return g_requests; }

}  // namespace HostHeap
