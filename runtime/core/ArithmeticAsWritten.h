// The arithmetic of every function after this header is compiled as written:
// each multiplication and addition rounded on its own, never fused into one
// multiply-add, which rounds once and would change the forces' last bits on
// processors that have it (AArch64, x86 with FMA). Our builds say so on the
// command line too; this keeps a build from the archive's sources that leaves
// the option out from contracting. A compiler told to contract regardless
// (GCC's or clang's -ffp-contract=fast, -ffast-math) is beyond its reach.
#pragma once

#if defined(__clang__)
#pragma clang fp contract(off)
#elif defined(__GNUC__)
#pragma GCC optimize("fp-contract=off")
#endif
