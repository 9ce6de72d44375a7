// SPDX-License-Identifier: MIT
#pragma once
// The hot loops of the rules are plain loops the compiler vectorizes; on GCC
// for x86-64 they are also built for AVX2 and AVX-512, and the best version
// the processor supports is chosen when the program loads.

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__)
#define GLITCHWERK_VECTOR_CLONES __attribute__((target_clones("default", "avx2", "arch=x86-64-v4")))
// The same three versions for a function written once for each, where AVX2
// needs code of its own: chosen between in the same way.
#define GLITCHWERK_CLONE_BY_HAND 1
#define GLITCHWERK_CLONE_DEFAULT __attribute__((target("default")))
#define GLITCHWERK_CLONE_AVX2 __attribute__((target("avx2")))
#define GLITCHWERK_CLONE_AVX512 __attribute__((target("arch=x86-64-v4")))
#else
#define GLITCHWERK_VECTOR_CLONES
#endif
