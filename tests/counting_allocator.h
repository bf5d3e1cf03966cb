// Replaces the program's global allocation functions to count allocations and to make
// them fail on purpose. Linked only into the test program that needs it.
#pragma once

namespace counting_allocator {

// Allocations made so far, and those not yet freed.
long allocations();
long live();
// After `count` more successful allocations every further one throws std::bad_alloc;
// a negative count never fails.
void failAfter(int count);

}  // namespace counting_allocator
