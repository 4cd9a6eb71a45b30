#pragma once

// The global allocator of the codec allocation tests, replaced to count the
// allocations of the calling thread and to fail one on request.

namespace zelto::test::allocation {

// Allocations made on this thread so far.
long count();
// Blocks allocated on this thread and not freed yet.
long live();
// Makes the `n`th allocation of this thread from now on throw std::bad_alloc;
// 0 disarms. While armed, new blocks are zeroed, so a half-made value that a
// failed step leaves behind points at nothing rather than at whatever the
// allocator left there: releasing it crashes at once, not by chance.
void failAt(long n);
// True once the armed allocation was refused (until the next failAt).
bool failed();

}  // namespace zelto::test::allocation
