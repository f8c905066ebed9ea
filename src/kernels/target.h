/*
 * The names that one target's build of the walks gives itself.  The build
 * compiles a target's units (target_walks.cpp, target_walks_few.cpp,
 * target_copy.cpp) with the target's instructions enabled, which choose
 * its vector primitives (simd.h), and with FENNICK_TARGET, its name, and
 * FENNICK_TARGET_ISA, the instructions that cpu_runs checks the processor
 * for, defined.
 */
#ifndef FENNICK_KERNELS_TARGET_H
#define FENNICK_KERNELS_TARGET_H

#if !defined(FENNICK_TARGET) || !defined(FENNICK_TARGET_ISA)
#error "the build names the target: FENNICK_TARGET, FENNICK_TARGET_ISA"
#endif

#define TARGET_CONCAT_(a, b) a##b
#define TARGET_CONCAT(a, b) TARGET_CONCAT_(a, b)
#define TARGET_STRING_(x) #x
#define TARGET_STRING(x) TARGET_STRING_(x)

#define WALK_TARGET TARGET_STRING(FENNICK_TARGET)
#define WALK_ISA TARGET_STRING(FENNICK_TARGET_ISA)
#define WALK_TABLE TARGET_CONCAT(walk_table_, FENNICK_TARGET)
#define COPY_TABLE TARGET_CONCAT(copy_table_, FENNICK_TARGET)

#endif /* FENNICK_KERNELS_TARGET_H */
